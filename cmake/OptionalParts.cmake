# Decides which of the developer parts (tests, benchmarks, fuzzers) this
# configure builds, and prints one line for each part left out with the reason.
#
# A part the user switched on or off (BUILD_TESTING, DROVIK_BUILD_BENCH,
# DROVIK_BUILD_FUZZ on the command line or in the cache) is taken as asked; a
# part switched on whose dependencies are missing then fails in its own
# directory, naming what is missing. Otherwise a part is on only when Drovik is
# the top-level project and everything it needs was found; benchmarks and
# fuzzers also stay out when the user switched the tests off. That automatic
# choice is made afresh by every configure and never cached, so installing a
# missing package later turns its part on without clearing the build directory.
#
# Sets DROVIK_TESTS, DROVIK_BENCH and DROVIK_FUZZ.

include(CheckCXXSourceCompiles)

if(CMAKE_SOURCE_DIR STREQUAL PROJECT_SOURCE_DIR)
    set(_drovik_top_level ON)
else()
    set(_drovik_top_level OFF)
endif()

# drovik_choose_part(RESULT SWITCH LABEL MISSING): RESULT becomes the user's
# SWITCH when set; else ON at top level when MISSING (what was not found, a
# list) is empty. BUILD_TESTING is the enclosing project's switch when Drovik is
# a sub-project, and says nothing about Drovik's own tests.
function(drovik_choose_part result switch label missing)
    if(DEFINED CACHE{${switch}} AND (_drovik_top_level OR switch MATCHES "^DROVIK_"))
        set(_on ${${switch}})
        set(_why "${switch}=${${switch}}")
    elseif(NOT _drovik_top_level)
        set(_on OFF)
        set(_why "Drovik is built as part of another project")
    elseif(NOT switch STREQUAL "BUILD_TESTING" AND _drovik_top_level
           AND DEFINED CACHE{BUILD_TESTING} AND NOT BUILD_TESTING)
        # Switching the tests off asks for a user's build: the library and the tool.
        set(_on OFF)
        set(_why "BUILD_TESTING=OFF")
    elseif(missing)
        set(_on OFF)
        list(JOIN missing ", " _missing_text)
        set(_why "not found: ${_missing_text}")
    else()
        set(_on ON)
    endif()
    if(NOT _on)
        message(STATUS "Drovik leaves out ${label}: ${_why}")
    endif()
    set(${result} ${_on} PARENT_SCOPE)
endfunction()

# The Qt the library was configured with.
if(DROVIK_QT)
    set(_drovik_qt ${DROVIK_QT})
elseif(TARGET Qt6::Core)
    set(_drovik_qt Qt6)
else()
    set(_drovik_qt Qt5)
endif()

# What the tests need: QtTest, libcrypto as an independent Blowfish, and
# python3 to check the generated Blowfish table.
set(_drovik_missing)
if(NOT DEFINED CACHE{BUILD_TESTING} AND _drovik_top_level)
    find_package(${_drovik_qt} QUIET COMPONENTS Test)
    if(NOT ${_drovik_qt}Test_FOUND)
        list(APPEND _drovik_missing "${_drovik_qt} Test")
    endif()
    find_package(OpenSSL QUIET COMPONENTS Crypto)
    if(NOT OpenSSL_Crypto_FOUND)
        list(APPEND _drovik_missing "OpenSSL libcrypto")
    endif()
    find_package(Python3 QUIET COMPONENTS Interpreter)
    if(NOT Python3_Interpreter_FOUND)
        list(APPEND _drovik_missing python3)
    endif()
endif()
drovik_choose_part(DROVIK_TESTS BUILD_TESTING "the tests" "${_drovik_missing}")
if(_drovik_top_level)
    # A plain variable, so that CTest's option does not cache the automatic choice.
    if(NOT DEFINED CACHE{BUILD_TESTING})
        set(BUILD_TESTING ${DROVIK_TESTS})
    endif()
    include(CTest)
endif()

set(_drovik_missing)
if(NOT DEFINED CACHE{DROVIK_BUILD_BENCH} AND _drovik_top_level)
    find_package(benchmark QUIET)
    if(NOT benchmark_FOUND)
        list(APPEND _drovik_missing "Google Benchmark")
    endif()
    find_package(OpenSSL QUIET COMPONENTS Crypto)
    if(NOT OpenSSL_Crypto_FOUND)
        list(APPEND _drovik_missing "OpenSSL libcrypto")
    endif()
endif()
drovik_choose_part(DROVIK_BENCH DROVIK_BUILD_BENCH "the benchmarks" "${_drovik_missing}")

set(_drovik_missing)
if(NOT DEFINED CACHE{DROVIK_BUILD_FUZZ} AND _drovik_top_level)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        list(APPEND _drovik_missing "clang as the compiler (configure with CXX=clang++)")
    else()
        set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
        set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
        set(CMAKE_REQUIRED_QUIET ON)
        check_cxx_source_compiles([[
            #include <cstddef>
            #include <cstdint>
            extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *, std::size_t) { return 0; }
            ]] DROVIK_HAVE_LIBFUZZER)
        unset(CMAKE_REQUIRED_FLAGS)
        unset(CMAKE_REQUIRED_LINK_OPTIONS)
        unset(CMAKE_REQUIRED_QUIET)
        if(NOT DROVIK_HAVE_LIBFUZZER)
            list(APPEND _drovik_missing "libFuzzer (libclang-rt-dev)")
        endif()
    endif()
endif()
drovik_choose_part(DROVIK_FUZZ DROVIK_BUILD_FUZZ "the fuzzers" "${_drovik_missing}")
