# Synthetic page generator, included by the top-level build whatever BREVISFETCH_BUILD_BENCH says:
# the benchmarks and the mirror's sample data both draw their pages with it.
find_package(TIFF REQUIRED)
find_package(CLI11 CONFIG REQUIRED)

add_library(page_generator ${CMAKE_CURRENT_LIST_DIR}/page_generator.cpp)
target_include_directories(page_generator PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(page_generator PRIVATE TIFF::TIFF brevisfetch_warnings)

add_executable(make_pages ${CMAKE_CURRENT_LIST_DIR}/make_pages.cpp)
target_link_libraries(make_pages PRIVATE page_generator CLI11::CLI11 brevisfetch_warnings)

if(BREVISFETCH_BUILD_TESTS)
  add_executable(page_generator_tests ${CMAKE_CURRENT_LIST_DIR}/tests/page_generator_test.cpp)
  target_link_libraries(page_generator_tests PRIVATE page_generator TIFF::TIFF brevisfetch_warnings
                        GTest::gtest_main)
  gtest_discover_tests(page_generator_tests DISCOVERY_TIMEOUT 60)
endif()
