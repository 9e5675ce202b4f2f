# HTTP client benchmark: 200 files of 60 KB from a private nginx over one kept connection,
# against curl fetching the same 200 addresses in one process.
find_program(CURL_EXECUTABLE curl REQUIRED)
add_executable(http_bench ${CMAKE_CURRENT_SOURCE_DIR}/http_bench.cpp)
target_link_libraries(http_bench PRIVATE http http_test_support benchmark::benchmark
                                         brevisfetch_warnings)
target_compile_definitions(http_bench PRIVATE BREVISFETCH_CURL="${CURL_EXECUTABLE}")
