# vx_product_library(NAME SOURCES ... [INCLUDES ...] [LIBS ...] [OPTIONS ...] [OPTIMISED_TWIN TWIN])
#
# Makes a static library of the product's portable code (or of a native tool, such as the collector).
# INCLUDES and LIBS are public; OPTIONS are private compile options.
#
# Native flavour: NAME is compiled with AddressSanitizer and UndefinedBehaviorSanitizer, and every
# program that links it gets their runtime, so the tests see inside the library itself: the
# datagram builders, the template expansion and the package writer all write into fixed buffers.
# OPTIMISED_TWIN also makes TWIN from the same sources without the sanitizers, for the programs
# that run for real (benchmarks, the collector studios run); TWIN links the twins of the product
# libraries in LIBS, so no instrumented code slips into it.
#
# Windows flavours: NAME is the plain library the DLL ships, and TWIN is another name for it.

function(vx_static_library name sources includes libs options)
  add_library(${name} STATIC ${sources})
  if(includes)
    target_include_directories(${name} PUBLIC ${includes})
  endif()
  if(libs)
    target_link_libraries(${name} PUBLIC ${libs})
  endif()
  if(options)
    target_compile_options(${name} PRIVATE ${options})
  endif()
endfunction()

function(vx_product_library name)
  cmake_parse_arguments(ARG "" "OPTIMISED_TWIN" "SOURCES;INCLUDES;LIBS;OPTIONS" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vx_product_library(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()

  vx_static_library(${name} "${ARG_SOURCES}" "${ARG_INCLUDES}" "${ARG_LIBS}" "${ARG_OPTIONS}")
  set_target_properties(${name} PROPERTIES VXIDENT_PRODUCT_LIBRARY ON)
  if(NOT VXIDENT_FLAVOUR STREQUAL "native")
    if(ARG_OPTIMISED_TWIN)
      add_library(${ARG_OPTIMISED_TWIN} ALIAS ${name})
    endif()
    return()
  endif()

  target_compile_options(${name} PRIVATE ${VXIDENT_SANITIZE})
  target_link_options(${name} INTERFACE ${VXIDENT_SANITIZE})
  if(NOT ARG_OPTIMISED_TWIN)
    return()
  endif()

  set(twin_libs)
  foreach(lib IN LISTS ARG_LIBS)
    if(TARGET ${lib})
      get_target_property(is_product ${lib} VXIDENT_PRODUCT_LIBRARY)
      if(is_product)
        get_target_property(lib_twin ${lib} VXIDENT_OPTIMISED_TWIN)
        if(NOT lib_twin)
          message(FATAL_ERROR "${ARG_OPTIMISED_TWIN} needs an optimised twin of ${lib}: give ${lib} OPTIMISED_TWIN")
        endif()
        set(lib ${lib_twin})
      endif()
    endif()
    list(APPEND twin_libs ${lib})
  endforeach()

  vx_static_library(${ARG_OPTIMISED_TWIN} "${ARG_SOURCES}" "${ARG_INCLUDES}" "${twin_libs}" "${ARG_OPTIONS}")
  set_target_properties(${name} PROPERTIES VXIDENT_OPTIMISED_TWIN ${ARG_OPTIMISED_TWIN})
endfunction()
