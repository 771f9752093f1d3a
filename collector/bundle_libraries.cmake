# Copies beside the collector (into lib/, found through its RPATH) the shared libraries it needs that
# a bare Debian with Python and Wine lacks: cpp-httplib and the brotli libraries it pulls in. The
# emulated 32-bit machine (tools/emu32) runs this very program from the build folder.
#   cmake -DPROGRAM=... -DDESTINATION=... -P bundle_libraries.cmake
file(GET_RUNTIME_DEPENDENCIES EXECUTABLES ${PROGRAM} RESOLVED_DEPENDENCIES_VAR dependencies)
foreach(library ${dependencies})
  get_filename_component(name ${library} NAME)
  if(name MATCHES "^lib(cpp-httplib|brotlicommon|brotlidec|brotlienc)\\.so")
    file(COPY ${library} DESTINATION ${DESTINATION} FOLLOW_SYMLINK_CHAIN)
  endif()
endforeach()
