# Debian packages of the installed components (cmake/Install.cmake), made by
# CPack from a build folder: `cpack -G DEB` there writes quenmor-tools
# (quenmor-update, quenmor-publish) and quenmor-launcher (the window program
# Quenmor, its icon and desktop entry template). Each package carries its
# copyright file, changelog and lintian overrides (cmake/debian/), takes its
# dependencies from dpkg-shlibdeps, and has its programs stripped.

set(QUENMOR_PACKAGE_MAINTAINER "Quenmor developers <packages@quenmor.invalid>"
    CACHE STRING "The Maintainer of the Debian packages: name <address>")
set(QUENMOR_PACKAGE_RELEASE 1 CACHE STRING "The Debian revision of the packages")
set(QUENMOR_PACKAGE_VERSION ${PROJECT_VERSION}-${QUENMOR_PACKAGE_RELEASE})

set(QUENMOR_PACKAGES tools)
if(TARGET Quenmor)
    list(APPEND QUENMOR_PACKAGES launcher)
endif()

# The copyright file, changelog and lintian overrides each package carries.
# They are part of the packages only, not of a plain `cmake --install`. The
# changelog is dated when the build is configured, or by SOURCE_DATE_EPOCH
# for a reproducible build.
string(TIMESTAMP QUENMOR_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(QUENMOR_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${QUENMOR_DEBIAN_DIR}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${QUENMOR_DEBIAN_DIR}/changelog
    @ONLY)
find_program(QUENMOR_GZIP gzip)
if(QUENMOR_GZIP)
    add_custom_command(OUTPUT ${QUENMOR_DEBIAN_DIR}/changelog.Debian.gz
        COMMAND ${QUENMOR_GZIP} -9nc ${QUENMOR_DEBIAN_DIR}/changelog
            > ${QUENMOR_DEBIAN_DIR}/changelog.Debian.gz
        DEPENDS ${QUENMOR_DEBIAN_DIR}/changelog
        COMMENT "Debian changelog of the packages")
    add_custom_target(quenmor-debian-changelog ALL
        DEPENDS ${QUENMOR_DEBIAN_DIR}/changelog.Debian.gz)
endif()
foreach(component IN LISTS QUENMOR_PACKAGES)
    set(QUENMOR_PACKAGE quenmor-${component})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides.in
        ${QUENMOR_DEBIAN_DIR}/${QUENMOR_PACKAGE}.lintian-overrides @ONLY)
    install(FILES ${QUENMOR_DEBIAN_DIR}/${QUENMOR_PACKAGE}.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${QUENMOR_PACKAGE}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
    set(docs ${CMAKE_INSTALL_DATADIR}/doc/${QUENMOR_PACKAGE})
    install(FILES ${QUENMOR_DEBIAN_DIR}/copyright
        DESTINATION ${docs} COMPONENT ${component} EXCLUDE_FROM_ALL)
    if(QUENMOR_GZIP)
        install(FILES ${QUENMOR_DEBIAN_DIR}/changelog.Debian.gz
            DESTINATION ${docs} COMPONENT ${component} EXCLUDE_FROM_ALL)
    endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenmor)
set(CPACK_PACKAGE_VENDOR "Quenmor developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QUENMOR_PACKAGE_MAINTAINER})
set(CPACK_COMPONENTS_ALL ${QUENMOR_PACKAGES})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
# The installation runs with the packages' own prefix (/usr), into a staging
# folder: the desktop entry template names the program where it will be.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUENMOR_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENMOR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE quenmor)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quenmor-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "updater and update publisher of the Quenmor game client
quenmor-update brings an installation of the Quenmor game client up to date
with its update server, as the launcher window does, without a window: it
checks the files against the server's manifest, downloads what is out of
date as bzip2 copies, verifies and installs them, and can require manifests
signed with Ed25519.

quenmor-publish turns a client folder into the update tree that any static
HTTP server can serve, optionally signed.")

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME quenmor-launcher)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_LAUNCHER_DESCRIPTION
    "launcher window of the Quenmor game client
Quenmor is started in the game client's folder instead of the game: it shows
the news, brings the installation up to date with its update server, edits a
few game options and starts the game through Wine.

The package holds the program, its icon and a desktop entry template; the
launcher adds a desktop entry for its folder by itself on its first start.")

include(CPack)
