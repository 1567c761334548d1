# What `cmake --install` puts under the prefix: programs, static libraries,
# headers (in include/zulukit, so that no name clashes with other
# libraries'), man pages, a CMake package and pkg-config files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZULU_LIBRARIES zulucal bot dotalign gincross)
set(ZULU_PROGRAMS julstamp tlmword24 tlmword17 gincross-demo)
if(TARGET bottle)
  list(APPEND ZULU_PROGRAMS bottle)
endif()
set(ZULU_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zulukit)

install(TARGETS ${ZULU_LIBRARIES} EXPORT zulukitTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ${ZULU_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES date/date.h bottle/bot.h bottle/buf.h tools/dotalign/dotalign.h tools/gincross/gincross.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zulukit)

install(EXPORT zulukitTargets NAMESPACE zulukit:: DESTINATION ${ZULU_CMAKE_DIR})
configure_package_config_file(cmake/zulukitConfig.cmake.in ${PROJECT_BINARY_DIR}/zulukitConfig.cmake
                              INSTALL_DESTINATION ${ZULU_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zulukitConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zulukitConfig.cmake ${PROJECT_BINARY_DIR}/zulukitConfigVersion.cmake
        DESTINATION ${ZULU_CMAKE_DIR})

# The definitions the bottle library passes to its users, for pkg-config.
get_target_property(bot_definitions bot INTERFACE_COMPILE_DEFINITIONS)
list(TRANSFORM bot_definitions PREPEND -D)
list(JOIN bot_definitions " " ZULU_BOT_CFLAGS)

foreach(pc zulucal zulukit-bot zulukit-dotalign zulukit-gincross)
  configure_file(cmake/pkgconfig/${pc}.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# Man pages, by their section; tlmword17 shares the page of tlmword24.
foreach(page ${ZULU_MAN_PAGES})
  if(EXISTS ${PROJECT_SOURCE_DIR}/${page})
    string(REGEX MATCH "[0-9]$" section ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endforeach()
install(FILES tools/tlmword/tlmword24.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 RENAME tlmword17.1)
