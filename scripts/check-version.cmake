# cmake -P scripts/check-version.cmake
# The version lives in the root CMakeLists.txt's project() alone. The newest entry of
# debian/changelog and the newest AppStream release must name it; this says which does not.
get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

file(READ ${root}/CMakeLists.txt lists)
if(NOT lists MATCHES "project\\(orv4120-demo VERSION ([0-9.]+)")
    message(FATAL_ERROR "CMakeLists.txt: no project(orv4120-demo VERSION ...) found")
endif()
set(version ${CMAKE_MATCH_1})

file(STRINGS ${root}/debian/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^orv4120-demo \\(([^)]+)\\)")
    message(FATAL_ERROR "debian/changelog: the first line is not \"orv4120-demo (VERSION) ...\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL version)
    message(FATAL_ERROR "debian/changelog names ${CMAKE_MATCH_1}, project() ${version}: "
        "add an entry with `dch -v ${version}`")
endif()

file(READ ${root}/data/org.orv4120.demo.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<release version=\"([^\"]+)\"")
    message(FATAL_ERROR "data/org.orv4120.demo.metainfo.xml: no <release> found")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL version)
    message(FATAL_ERROR "data/org.orv4120.demo.metainfo.xml names ${CMAKE_MATCH_1} as its newest "
        "release, project() ${version}: add a <release> line first in <releases>")
endif()
message(STATUS "version ${version} in CMakeLists.txt, debian/changelog and the AppStream data")
