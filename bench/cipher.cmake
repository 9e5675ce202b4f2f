# Big-integer benchmark: the cipher's modular exponentiation and a large multiplication, our
# arithmetic against GMP's.
add_executable(cipher_bench ${CMAKE_CURRENT_SOURCE_DIR}/cipher_bench.cpp)
target_include_directories(cipher_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(cipher_bench PRIVATE cipher benchmark::benchmark PkgConfig::GMP
                                           brevisfetch_warnings)
