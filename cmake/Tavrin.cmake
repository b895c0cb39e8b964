# tavrin_library(name DEPS ...): a static library from src/*.cpp with include/ as its public headers.
function(tavrin_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()  # headers only, so far
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()

# tavrin_nothing_graphical(program...): programs that must link no drawing or window library (libX11,
# libfreetype, libpng); the build lists them in nothing_graphical.txt, which scripts/check-layers reads.
function(tavrin_nothing_graphical)
  set_property(GLOBAL APPEND PROPERTY TAVRIN_NOTHING_GRAPHICAL ${ARGN})
endfunction()

# tavrin_test(name [NOTHING_GRAPHICAL] [SOURCES ...] DEPS ...): one gtest program from the *.cpp files of the
# calling folder, or from SOURCES when given.
# NOTHING_GRAPHICAL: the program gets only the base layer's test support, so it links nothing graphical (the
# kernel side, the system layer, the simulator, the Mac side). A test that drew for 1 s takes 40 in an
# unoptimised sanitizer build, more beside other suites: those builds give each test longer.
function(tavrin_test name)
  cmake_parse_arguments(ARG "NOTHING_GRAPHICAL" "" "DEPS;SOURCES" ${ARGN})
  if(ARG_SOURCES)
    set(srcs ${ARG_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${name} ${srcs})
  if(ARG_NOTHING_GRAPHICAL)
    set(support tavrin_testsupport_base)
    tavrin_nothing_graphical(${name})
  else()
    set(support tavrin_testsupport)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} ${support} GTest::gtest GTest::gtest_main)
  set(timeout 120)
  if(TAVRIN_SANITIZE OR TAVRIN_TSAN)
    set(timeout 600)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${timeout})
endfunction()

# tavrin_module_host(target): a program that loads DLLs (LoadLibrary). It links the platform layer whole
# and exports its symbols, so a DLL, built without the layer (tavrin_dll), binds to this one copy.
function(tavrin_module_host target)
  target_link_libraries(${target} PRIVATE win32 ${CMAKE_DL_LIBS})
  target_link_options(${target} PRIVATE "LINKER:--whole-archive" "$<TARGET_FILE:win32>" "$<TARGET_FILE:winsys>"
                      "$<TARGET_FILE:wincommon>" "$<TARGET_FILE:base>"
                      "LINKER:--no-whole-archive")
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

# tavrin_dll(name OUTPUT file SOURCES ...): a DLL of the sysroot: a shared object with the platform's
# headers and none of its code; its platform calls resolve against the program that loads it.
function(tavrin_dll name)
  cmake_parse_arguments(ARG "" "OUTPUT" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE $<TARGET_PROPERTY:win32,INTERFACE_INCLUDE_DIRECTORIES>
                                             $<TARGET_PROPERTY:winsys,INTERFACE_INCLUDE_DIRECTORIES>
                                             $<TARGET_PROPERTY:base,INTERFACE_INCLUDE_DIRECTORIES>
                                             $<TARGET_PROPERTY:wincommon,INTERFACE_INCLUDE_DIRECTORIES>)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${ARG_OUTPUT} SUFFIX "")
endfunction()

# tavrin_version_info(target NAME VALUE ...): the version resource GetFileVersionInfo reads, e.g.
# tavrin_version_info(TavrinAdmin FileVersion 1.0.0.1 ProductName "Pelko Admin"), language 040904B0.
function(tavrin_version_info target)
  set(text "")
  set(args ${ARGN})
  list(LENGTH args count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET args ${i} key)
    list(GET args ${j} value)
    string(APPEND text "\\\\StringFileInfo\\\\040904B0\\\\${key}=${value}\\n")
  endforeach()
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_info.c)
  file(GENERATE OUTPUT ${file} CONTENT
    "__attribute__((section(\".tavrin_version\"), used)) static const char tavrin_version_info[] = \"${text}\";\n")
  target_sources(${target} PRIVATE ${file})
endfunction()

# tavrin_tsan_programs(program...): test programs whose tests the ThreadSanitizer build of CI runs; in that
# build the target "tsan-tests" builds them and what they start (their dependencies), and nothing else.
function(tavrin_tsan_programs)
  if(TAVRIN_TSAN)
    if(NOT TARGET tsan-tests)
      add_custom_target(tsan-tests)
    endif()
    add_dependencies(tsan-tests ${ARGN})
  endif()
endfunction()

# tavrin_tsan_test(program ARGS...): the test program once more under the "tsan" label, which the
# ThreadSanitizer build of CI runs; registered only in that build.
function(tavrin_tsan_test program)
  if(TAVRIN_TSAN)
    add_test(NAME ${program}_tsan COMMAND ${program} ${ARGN})
    set_tests_properties(${program}_tsan PROPERTIES LABELS tsan TIMEOUT 300)
    tavrin_tsan_programs(${program})
  endif()
endfunction()

# tavrin_program_resources(target NAME manifest...): the program's resource table, made by tavrin-rescomp
# from its manifests, with the header of their ids (<NAME>Resource.h) and a registration that runs before
# main. NAME is also the manifests' "function Register<NAME>Resources".
function(tavrin_program_resources target name)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(manifests ${ARGN})
  list(TRANSFORM manifests PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_custom_command(
    OUTPUT ${generated}/${name}Resources.cpp ${generated}/${name}Resource.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND tavrin-rescomp --header ${generated}/${name}Resource.h --output ${generated}/${name}Resources.cpp
            ${manifests}
    DEPENDS tavrin-rescomp ${manifests}
    COMMENT "${target}'s resources from their manifests"
    VERBATIM)
  file(GENERATE OUTPUT ${generated}/${name}Register.cpp CONTENT
    "void Register${name}Resources();\nnamespace {\n[[maybe_unused]] const bool kRegistered = (Register${name}Resources(), true);\n}\n")
  target_sources(${target} PRIVATE ${generated}/${name}Resources.cpp ${generated}/${name}Register.cpp)
  target_include_directories(${target} PRIVATE ${generated})
endfunction()
