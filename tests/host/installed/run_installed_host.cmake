# Installs the build tree into a fresh prefix, checks the installed layout
# and the exported symbols, then builds a host from the prefix alone and
# runs it. Arguments: BUILD_DIR WORK_DIR HOST_SOURCE CXX SANITIZE SAMPLE_WRITER
# READER (the test reader, installed here as the meshing-database reader).
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

foreach(f include/VRNUtilities.h include/ylt/Error.h lib/libvrnutilities.so lib/libYLTException.so)
  if(NOT EXISTS ${P}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

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
run(${CXX} ${flags} ${HOST_SOURCE} -I${P}/include -L${P}/lib -lvrnutilities -lYLTException
    -o ${WORK_DIR}/host)

run(${SAMPLE_WRITER} ${WORK_DIR}/samples)
# An installation holding the reader in its executable folder; the test
# reader writes the bytes of its file as the reader's output.
file(MAKE_DIRECTORY ${WORK_DIR}/bin ${WORK_DIR}/exec)
file(COPY_FILE ${READER} ${WORK_DIR}/exec/kwxtolvreader.exe)
file(WRITE ${WORK_DIR}/models.tolv "<MODELS_BEG>\r\n2\r\n1\r\nA\r\n10\r\nB\r\n2\r\nC\r\n20\r\nD\r\n<MODELS_END>\r\n")
run(${CMAKE_COMMAND} -E env --unset=KWX5_KWXTOLVREADER_EXEC LD_LIBRARY_PATH=${P}/lib
    KWX5BINDIR=${WORK_DIR}/bin KWX5EXECDIR=${WORK_DIR}/exec HOST_MODELS_FILE=${WORK_DIR}/models.tolv
    ${WORK_DIR}/host ${WORK_DIR}/samples/three_bases_hdf5.cgns Inlet Core Outlet)
if(NOT out STREQUAL "ok\n")
  message(FATAL_ERROR "host said: ${out}")
endif()
message(STATUS "installed host: ${out}")
