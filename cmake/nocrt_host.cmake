# vx_add_nocrt_host(<name> ARCH x86|x64 SOURCES <c files>... ENTRY <function>
#                   [INCLUDE_DIRECTORIES <dirs>...] [LIBRARIES <import libraries>...]
#                   [KERNEL32 <Function:argument bytes>...] [OUTPUT_DIRECTORY <dir>])
#
# A Windows program built the way an MSVC game links, with nothing of a C runtime: clang compiles
# each source for the *-pc-windows-msvc target and lld-link links with /NODEFAULTLIB and ENTRY as
# the entry point, which must end the process itself (ExitProcess) or return to let Windows end
# the main thread. The kernel32 functions the program calls come from an import library made with
# llvm-dlltool from the KERNEL32 list; the argument bytes are their __stdcall decoration, which an
# i686 object refers to (_ExitProcess@4). Independent of the project's own compiler, so a MinGW
# build tree can hold such programs too. The program is <OUTPUT_DIRECTORY>/<name>.exe (default: the
# current binary folder), built with the ALL target.

function(vx_add_nocrt_host name)
  cmake_parse_arguments(ARG "" "ARCH;ENTRY;OUTPUT_DIRECTORY" "SOURCES;INCLUDE_DIRECTORIES;LIBRARIES;KERNEL32" ${ARGN})
  if(ARG_ARCH STREQUAL "x86")
    set(triple i686-pc-windows-msvc)
    set(machine X86)
    set(dlltool_machine i386)
  elseif(ARG_ARCH STREQUAL "x64")
    set(triple x86_64-pc-windows-msvc)
    set(machine X64)
    set(dlltool_machine i386:x86-64)
  else()
    message(FATAL_ERROR "vx_add_nocrt_host(${name}): ARCH must be x86 or x64, not '${ARG_ARCH}'")
  endif()
  if(NOT ARG_SOURCES OR NOT ARG_ENTRY)
    message(FATAL_ERROR "vx_add_nocrt_host(${name}): SOURCES and ENTRY are required")
  endif()
  find_program(VXIDENT_CLANG NAMES clang clang-14 REQUIRED)
  find_program(VXIDENT_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
  find_program(VXIDENT_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.nocrt)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR})
  if(ARG_OUTPUT_DIRECTORY)
    set(out_dir ${ARG_OUTPUT_DIRECTORY})
  endif()
  set(exe ${out_dir}/${name}.exe)

  set(kernel32_def "LIBRARY kernel32.dll\nEXPORTS\n")
  foreach(entry ${ARG_KERNEL32})
    string(REPLACE ":" ";" parts ${entry})
    list(GET parts 0 function)
    list(GET parts 1 bytes)
    if(ARG_ARCH STREQUAL "x86")
      string(APPEND kernel32_def "    ${function}@${bytes}\n")
    else()
      string(APPEND kernel32_def "    ${function}\n")
    endif()
  endforeach()
  file(WRITE ${work}/kernel32.def "${kernel32_def}")
  add_custom_command(OUTPUT ${work}/kernel32.lib
    COMMAND ${VXIDENT_LLVM_DLLTOOL} -m ${dlltool_machine} -k -d ${work}/kernel32.def -l ${work}/kernel32.lib
    DEPENDS ${work}/kernel32.def
    COMMENT "kernel32 import library for ${name}")

  # No stack protector (its cookie lives in the runtime), no stack probes (__chkstk is the
  # runtime's too): locals stay under a page.
  set(compile_flags --target=${triple} -ffreestanding -fno-stack-protector -mno-stack-arg-probe -O2 -Wall -Wextra)
  foreach(dir ${ARG_INCLUDE_DIRECTORIES})
    list(APPEND compile_flags -I${dir})
  endforeach()
  set(objects)
  foreach(source ${ARG_SOURCES})
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(stem ${source} NAME_WE)
    set(object ${work}/${stem}.obj)
    add_custom_command(OUTPUT ${object}
      COMMAND ${VXIDENT_CLANG} ${compile_flags} -c ${source} -o ${object}
      DEPENDS ${source}
      IMPLICIT_DEPENDS C ${source}
      COMMENT "clang ${triple}: ${stem}.c")
    list(APPEND objects ${object})
  endforeach()

  add_custom_command(OUTPUT ${exe}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${VXIDENT_LLD_LINK} /nologo /NODEFAULTLIB /ENTRY:${ARG_ENTRY} /SUBSYSTEM:CONSOLE
            /MACHINE:${machine} /OUT:${exe} ${objects} ${ARG_LIBRARIES} ${work}/kernel32.lib
    DEPENDS ${objects} ${ARG_LIBRARIES} ${work}/kernel32.lib
    COMMENT "lld-link ${name}.exe")
  add_custom_target(${name} ALL DEPENDS ${exe})
endfunction()
