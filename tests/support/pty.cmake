add_library(tts_support_pty STATIC ${CMAKE_CURRENT_LIST_DIR}/ptypeer.cpp ${CMAKE_CURRENT_LIST_DIR}/ptypeer.h)
target_include_directories(tts_support_pty PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tts_support_pty PUBLIC Qt6::Core)

