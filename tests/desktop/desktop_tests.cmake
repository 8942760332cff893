# The desktop layer, with real widgets on the offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

# What every widget test shares: the offscreen application and the scripted modal host.
add_library(wg_gui_test_support STATIC desktop/gui_test.cpp)
target_link_libraries(wg_gui_test_support PUBLIC wg_desktop GTest::gtest Qt6::Test)

wg_add_test(desktop_test desktop/desktop_test.cpp LIBS wg_gui_test_support)
target_include_directories(desktop_test PRIVATE
  ${CMAKE_SOURCE_DIR}/Win95HostCode/SDKLibs/Whorlgate/WhorlgateRPC/include)
