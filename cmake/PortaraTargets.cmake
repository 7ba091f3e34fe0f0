# Helpers shared by every configuration: warnings, GoogleTest, tests, kernel drivers.

# Warnings on and fatal for our own targets (not for GoogleTest).
function(pta_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# GoogleTest from Debian's source package, built in this tree (natively and cross).
macro(pta_use_googletest)
    set(PTA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${PTA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endmacro()

# User-mode Windows programs are linked statically: nothing to deploy beside them.
function(pta_windows_program target)
    if(WIN32)
        target_link_options(${target} PRIVATE -static)
    endif()
endfunction()

# pta_add_test(NAME SOURCES... [LIBS libs...]): one GoogleTest executable, one ctest test.
# Windows-side tests run under Wine through the crosscompiling emulator.
function(pta_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
    pta_warnings(${name})
    pta_windows_program(${name})
    add_test(NAME ${name} COMMAND ${name})
endfunction()

# A libFuzzer target with AddressSanitizer and UndefinedBehaviorSanitizer, built only in a
# clang tree (the fuzz preset); scripts/fuzz.sh runs every one of them.
function(pta_add_fuzz name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined
        -fno-sanitize-recover=all -fno-exceptions -fno-rtti)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    pta_warnings(${name})
endfunction()

# Kernel-mode compile flags, for drivers and for code checked in kernel mode.
function(pta_kernel_flags target)
    target_include_directories(${target} SYSTEM PRIVATE ${PTA_DDK_INCLUDE_DIR})
    target_compile_definitions(${target} PRIVATE
        _KERNEL_MODE
        # wdm.h and the intrinsics header both define these; g++ rejects the pair.
        __INTRINSIC_DEFINED_InterlockedBitTestAndSet
        __INTRINSIC_DEFINED_InterlockedBitTestAndReset)
    target_compile_options(${target} PRIVATE
        -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables
        # The kernel exports no ___chkstk_ms.
        -mno-stack-arg-probe)
    pta_warnings(${target})
endfunction()

# pta_add_kernel_driver(NAME SOURCES...): a WDM driver NAME.sys.
function(pta_add_kernel_driver name)
    add_library(${name} SHARED ${ARGN})
    set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".sys"
        RUNTIME_OUTPUT_DIRECTORY ${PTA_PACKAGE_DIR})
    pta_kernel_flags(${name})
    target_link_libraries(${name} PRIVATE pta_common)
    target_link_options(${name} PRIVATE
        -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry
        -Wl,--image-base,0x140000000)
    target_link_libraries(${name} PRIVATE ntoskrnl hal gcc)
endfunction()

# Copies a file (an INF) into the driver package folder beside the built drivers.
function(pta_package_file file)
    get_filename_component(fname ${file} NAME)
    configure_file(${file} ${PTA_PACKAGE_DIR}/${fname} COPYONLY)
endfunction()
