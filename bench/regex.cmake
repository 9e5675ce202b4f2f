# Pattern engine benchmark: the system's four patterns, our engine against std::wregex and the
# PCRE2 interpreter (16-bit library, no JIT).
add_executable(regex_bench ${CMAKE_CURRENT_SOURCE_DIR}/regex_bench.cpp)
target_compile_definitions(regex_bench PRIVATE PCRE2_CODE_UNIT_WIDTH=16)
target_link_libraries(regex_bench PRIVATE regex benchmark::benchmark PkgConfig::PCRE2_16
                                          brevisfetch_warnings)
