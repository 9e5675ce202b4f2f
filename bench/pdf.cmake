# Fax coder benchmark: Group 4 coding of a text-like A4 page at 300 dpi (2480 x 3508), our coder
# against libtiff's, and the reduction of a 32-bit page slice to one bit per pixel.
add_executable(pdf_fax_bench ${CMAKE_CURRENT_SOURCE_DIR}/pdf_fax_bench.cpp)
target_link_libraries(pdf_fax_bench PRIVATE pdf_test_support stand_in benchmark::benchmark
                                            brevisfetch_warnings)
