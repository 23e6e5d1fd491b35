# Installs the build tree into a fresh prefix, checks the installed layout,
# the library versions and the exported symbols, then builds a host from the
# prefix alone in three ways (the plain link line, find_package and
# pkg-config) and runs each without LD_LIBRARY_PATH. Arguments: SOURCE_DIR
# BUILD_DIR WORK_DIR HOST_SOURCE CXX SANITIZE SAMPLE_WRITER READER (the test
# reader, installed here as the meshing-database reader).
set(P ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${P})

foreach(f include/VRNUtilities.h include/ylt/Error.h lib/pkgconfig/vrnutilities.pc
          lib/cmake/vrnutilities/vrnutilitiesConfig.cmake)
  if(NOT EXISTS ${P}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# Versioned libraries: the file, the SONAME link and the development link;
# the debug info lies beside them in a file of its own.
foreach(lib libvrnutilities libYLTException)
  foreach(f ${lib}.so.${VERSION} debug/${lib}.so.${VERSION}.debug)
    if(NOT EXISTS ${P}/lib/${f} OR IS_SYMLINK ${P}/lib/${f})
      message(FATAL_ERROR "not installed as a file: lib/${f}")
    endif()
  endforeach()
  foreach(link ${lib}.so.${VERSION_MAJOR} ${lib}.so)
    if(NOT IS_SYMLINK ${P}/lib/${link})
      message(FATAL_ERROR "not installed as a link: lib/${link}")
    endif()
  endforeach()
  run(readelf -d -S ${P}/lib/${lib}.so.${VERSION})
  if(NOT out MATCHES "SONAME[^\n]*\\[${lib}\\.so\\.${VERSION_MAJOR}\\]")
    message(FATAL_ERROR "${lib} has no SONAME ${lib}.so.${VERSION_MAJOR}:\n${out}")
  endif()
  if(out MATCHES "\\.debug_info" OR NOT out MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "${lib} keeps its debug info or has no link to it:\n${out}")
  endif()
endforeach()

# No installed file names the build machine's folders. (A sanitizer build
# is no release: AddressSanitizer's records of global variables keep the
# compiler's own source paths.)
if(NOT SANITIZE)
  execute_process(COMMAND grep -rlF -e ${SOURCE_DIR} -e ${BUILD_DIR} ${P} OUTPUT_VARIABLE named)
  if(named)
    message(FATAL_ERROR "installed files hold build paths:\n${named}")
  endif()
endif()

# Installed libraries find each other from where they lie.
run(readelf -d ${P}/lib/libvrnutilities.so)
if(NOT out MATCHES "RUNPATH[^\n]*\\[\\$ORIGIN\\]")
  message(FATAL_ERROR "libvrnutilities.so has no RUNPATH $ORIGIN:\n${out}")
endif()

# The library exports the host interface and nothing else: every defined
# dynamic symbol belongs to ylt::vrnutilities::error or ylt::VRNUtilities.
run(nm -D -C --defined-only ${P}/lib/libvrnutilities.so)
string(REPLACE "\n" ";" symbols "${out}")
set(foreign)
foreach(line ${symbols})
  if(line MATCHES "^[0-9a-f]+ [A-Za-z] (.*)$")
    set(name "${CMAKE_MATCH_1}")
    # The table of CGNS calls that tests swap is internal, though its
    # namespace lies under the exported one.
    if(name MATCHES "^ylt::VRNUtilities::detail::")
      list(APPEND foreign "${name}")
    elseif(NOT name MATCHES "ylt::vrnutilities::error" AND NOT name MATCHES "^ylt::VRNUtilities::"
       AND NOT name MATCHES "^_(init|fini|edata|end)$" AND NOT name MATCHES "^__bss_start"
       AND NOT name MATCHES "^__(odr_)?asan")
      list(APPEND foreign "${name}")
    endif()
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "libvrnutilities.so exports more than the host interface: ${foreign}")
endif()

set(flags)
if(SANITIZE)
  # The installed libraries carry the sanitizer; the host must load its runtime first.
  set(flags -fsanitize=address,undefined)
endif()
# Each host is built in a clean folder of its own from a copy of its source.
foreach(way plain cmake pkgconfig)
  file(MAKE_DIRECTORY ${WORK_DIR}/${way})
  file(COPY_FILE ${HOST_SOURCE} ${WORK_DIR}/${way}/host.cpp)
endforeach()
# The link line of the README.
run(${CXX} ${flags} ${WORK_DIR}/plain/host.cpp -I${P}/include -L${P}/lib -Wl,-rpath,${P}/lib
    -lvrnutilities -lYLTException -o ${WORK_DIR}/plain/host)
# find_package and the imported target.
file(WRITE ${WORK_DIR}/cmake/CMakeLists.txt "cmake_minimum_required(VERSION 3.16)
project(host CXX)
find_package(vrnutilities 1 CONFIG REQUIRED)
add_executable(host host.cpp)
target_link_libraries(host PRIVATE vrnutilities::vrnutilities)
")
string(REPLACE ";" " " flag_text "${flags}")
run(${CMAKE_COMMAND} -S ${WORK_DIR}/cmake -B ${WORK_DIR}/cmake/build -DCMAKE_PREFIX_PATH=${P}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${flag_text}" "-DCMAKE_EXE_LINKER_FLAGS=${flag_text}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake/build)
file(COPY_FILE ${WORK_DIR}/cmake/build/host ${WORK_DIR}/cmake/host)
# pkg-config.
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${P}/lib/pkgconfig pkg-config --cflags --libs vrnutilities)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
run(${CXX} ${flags} ${WORK_DIR}/pkgconfig/host.cpp ${pc_flags} -o ${WORK_DIR}/pkgconfig/host)

run(${SAMPLE_WRITER} ${WORK_DIR}/samples)
# An installation holding the reader in its executable folder; the test
# reader writes the bytes of its file as the reader's output.
file(MAKE_DIRECTORY ${WORK_DIR}/bin ${WORK_DIR}/exec)
file(COPY_FILE ${READER} ${WORK_DIR}/exec/kwxtolvreader.exe)
file(WRITE ${WORK_DIR}/models.tolv "<MODELS_BEG>\r\n2\r\n1\r\nA\r\n10\r\nB\r\n2\r\nC\r\n20\r\nD\r\n<MODELS_END>\r\n")
foreach(way plain cmake pkgconfig)
  run(${CMAKE_COMMAND} -E env --unset=KWX5_KWXTOLVREADER_EXEC --unset=LD_LIBRARY_PATH
      KWX5BINDIR=${WORK_DIR}/bin KWX5EXECDIR=${WORK_DIR}/exec HOST_MODELS_FILE=${WORK_DIR}/models.tolv
      ${WORK_DIR}/${way}/host ${WORK_DIR}/samples/three_bases_hdf5.cgns Inlet Core Outlet)
  if(NOT out STREQUAL "ok\n")
    message(FATAL_ERROR "host built the ${way} way said: ${out}")
  endif()
  message(STATUS "installed host (${way}): ${out}")
endforeach()
