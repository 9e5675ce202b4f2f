# Pattern engine benchmark: the system's four patterns, our engine against std::wregex and the
# PCRE2 interpreter (16-bit library, no JIT).
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2_16_BENCH REQUIRED IMPORTED_TARGET libpcre2-16)
add_executable(regex_bench ${CMAKE_CURRENT_SOURCE_DIR}/regex_bench.cpp)
target_compile_definitions(regex_bench PRIVATE PCRE2_CODE_UNIT_WIDTH=16)
target_link_libraries(regex_bench PRIVATE regex benchmark::benchmark PkgConfig::PCRE2_16_BENCH
                                          brevisfetch_warnings)
