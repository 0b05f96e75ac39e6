# The page-writing library's tests: pictures made with the codec libraries, pages read back with
# qpdf and rendered with MuPDF (through the export library's wrappers).
pkg_check_modules(PDFCTL_TEST_LIBS REQUIRED IMPORTED_TARGET libqpdf libjpeg libpng libtiff-4)
add_executable(pdfctl_tests pdfctl_test.cpp pdfctl_fixtures.cpp)
target_link_libraries(pdfctl_tests PRIVATE pdfctl pdftox_core PkgConfig::PDFCTL_TEST_LIBS
    GTest::gtest_main)
target_compile_definitions(pdfctl_tests PRIVATE PDFCTL_LIBRARY="$<TARGET_FILE:pdfctl>"
    POINTERHOLDER_TRANSITION=4)
gtest_discover_tests(pdfctl_tests DISCOVERY_MODE PRE_TEST)
lumadoc_strict(pdfctl_tests)
