# HTTP client benchmark: 200 files of 60 KB from a private nginx over one kept connection,
# against curl fetching the same 200 addresses in one process.
add_executable(http_bench ${CMAKE_CURRENT_SOURCE_DIR}/http_bench.cpp
                          ${PROJECT_SOURCE_DIR}/http/tests/nginx_server.cpp)
target_include_directories(http_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(http_bench PRIVATE http benchmark::benchmark brevisfetch_warnings)
target_compile_definitions(http_bench PRIVATE BREVISFETCH_NGINX="/usr/sbin/nginx"
                                              BREVISFETCH_CURL="/usr/bin/curl")
