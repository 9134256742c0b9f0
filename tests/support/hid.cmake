# FakeHidApi: made-up HID devices, among them the chip board, for the link's tests.
add_library(tts_support_hid STATIC ${CMAKE_CURRENT_LIST_DIR}/fakehid.cpp ${CMAKE_CURRENT_LIST_DIR}/fakehid.h)
target_include_directories(tts_support_hid PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tts_support_hid PUBLIC tts_hid)
