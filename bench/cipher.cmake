# Big-integer benchmark: the cipher's modular exponentiation and a large multiplication, our
# arithmetic against GMP's.
find_library(GMP_LIBRARY gmp REQUIRED)
find_path(GMP_INCLUDE_DIR gmp.h REQUIRED)
add_executable(cipher_bench ${CMAKE_CURRENT_SOURCE_DIR}/cipher_bench.cpp)
target_include_directories(cipher_bench PRIVATE ${PROJECT_SOURCE_DIR} ${GMP_INCLUDE_DIR})
target_link_libraries(cipher_bench PRIVATE cipher benchmark::benchmark ${GMP_LIBRARY}
                                           brevisfetch_warnings)
