# FakeLink: a link driven by hand, for what lies above the link seam.
add_library(tts_support_link INTERFACE)
target_sources(tts_support_link INTERFACE ${CMAKE_CURRENT_LIST_DIR}/fakelink.h)
target_include_directories(tts_support_link INTERFACE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tts_support_link INTERFACE tts_protocol)
