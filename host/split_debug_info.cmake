# Install step: moves the debug info of each installed library to
# lib/debug/<library>.debug and links it from the library.
set(lib "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${VRN_LIBDIR}")
file(MAKE_DIRECTORY "${lib}/debug")
foreach(name ${VRN_LIBRARIES})
  set(so "${lib}/${name}")
  set(dbg "${lib}/debug/${name}.debug")
  message(STATUS "Splitting debug info: ${dbg}")
  execute_process(COMMAND ${VRN_OBJCOPY} --only-keep-debug ${so} ${dbg} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${VRN_STRIP} --strip-debug --strip-unneeded ${so} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${VRN_OBJCOPY} --add-gnu-debuglink=${dbg} ${so} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
