# What `cmake --install` puts in place, in two components that the packages
# follow (cmake/Packaging.cmake): "tools", the command-line programs
# quenmor-update and quenmor-publish, and "launcher", the window program
# Quenmor with its icon and the template of its desktop entry. Both carry
# manual pages made from the programs' --help texts when help2man is there.
# Test programs, tests and benchmarks are not installed.
include(GNUInstallDirs)

# Folders made by the installation are world-readable whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS quenmor-update quenmor-publish
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

if(TARGET Quenmor)
    install(TARGETS Quenmor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT launcher)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME quenmor-launcher.png COMPONENT launcher)
    # The template names the program where it is installed, which is known
    # only at installation (a package installs into its own prefix); the
    # client's folder stays a placeholder.
    install(CODE "
        set(QUENMOR_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:Quenmor>\")
        set(CLIENT_FOLDER \"@CLIENT_FOLDER@\")
        configure_file(\"${PROJECT_SOURCE_DIR}/launcher/quenmor-launcher.desktop.in\"
            \"${PROJECT_BINARY_DIR}/install/quenmor-launcher.desktop.in\" @ONLY)"
        COMPONENT launcher)
    install(FILES ${PROJECT_BINARY_DIR}/install/quenmor-launcher.desktop.in
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quenmor COMPONENT launcher)
endif()

# Manual pages: each program's --help text as help2man lays it out, compressed
# as Debian keeps them. The programs run at build time, so a build for another
# system or under a sanitizer makes none.
find_program(QUENMOR_HELP2MAN help2man)
find_program(QUENMOR_GZIP gzip)
if(QUENMOR_HELP2MAN AND QUENMOR_GZIP AND NOT CMAKE_CROSSCOMPILING AND NOT QUENMOR_SANITIZE
   AND NOT QUENMOR_TSAN)
    set(QUENMOR_MAN_PAGES
        "quenmor-update\;tools\;update a game client installation from its update server"
        "quenmor-publish\;tools\;publish a game client folder as an update tree"
        "Quenmor\;launcher\;launcher and automatic updater of the Quenmor game client")
    set(QUENMOR_MAN_FILES)
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
    foreach(page IN LISTS QUENMOR_MAN_PAGES)
        list(GET page 0 program)
        list(GET page 1 component)
        list(GET page 2 summary)
        if(NOT TARGET ${program})
            continue()
        endif()
        set(man ${PROJECT_BINARY_DIR}/man/${program}.1)
        add_custom_command(OUTPUT ${man}.gz
            COMMAND ${QUENMOR_HELP2MAN} --no-info --no-discard-stderr
                --version-string=${PROJECT_VERSION} --name=${summary}
                --output=${man} $<TARGET_FILE:${program}>
            COMMAND ${QUENMOR_GZIP} -9nf ${man}
            DEPENDS ${program}
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND QUENMOR_MAN_FILES ${man}.gz)
        install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    endforeach()
    add_custom_target(quenmor-man-pages ALL DEPENDS ${QUENMOR_MAN_FILES})
else()
    message(STATUS "No manual pages: help2man or gzip is missing, or the programs cannot run here")
endif()
