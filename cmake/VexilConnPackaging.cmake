# The release packages of one build, made by CPack from the install rules (VexilConnInstall.cmake);
# scripts/release runs it for each platform:
#
#   Windows (each architecture): vexilconn-VERSION-windows-ARCH.zip, every component
#   Linux: vexilconn-VERSION-linux-x86_64.tar.gz, every component, and two Debian packages:
#          libvexilconn0 (Runtime: the library and its soname link)
#          libvexilconn-dev (Development: header, C# binding, libvexilconn.so, pkg-config and CMake
#                            files, ha-agent; the documents)
#
# Reproducible: CPack takes every time stamp in the archives from SOURCE_DATE_EPOCH, which
# scripts/release sets to the commit's time; the release build (VEXIL_RELEASE) keeps build paths
# and link times out of the binaries. Binaries are stripped.
set(CPACK_PACKAGE_NAME vexilconn)
set(CPACK_PACKAGE_VENDOR "The VexilConn developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(VEXIL_WINDOWS)
  set(vexil_release_platform windows-${VEXIL_WINE_ARCH})
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" vexil_release_platform)
endif()
# One folder inside each archive, named as the archive.
set(CPACK_PACKAGE_FILE_NAME vexilconn-${PROJECT_VERSION}-${vexil_release_platform})
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)

if(NOT VEXIL_WINDOWS)
  # The packages' control files (cpack -G DEB; which components go in them:
  # cmake/VexilConnPackagingGenerators.cmake).
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The VexilConn developers <maintainers@vexilconn.example.org>")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  set(CPACK_DEB_COMPONENT_INSTALL ON)

  # Debian wants its own copyright and changelog beside each package's files:
  # /usr/share/doc/PACKAGE/copyright (the licence in Debian's format) and changelog.gz (gzip -n,
  # no name or time inside, so that the package stays reproducible). They are in no archive.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE vexil_license_text)
  string(REGEX REPLACE "\n$" "" vexil_license_text "${vexil_license_text}")
  string(REGEX REPLACE "\n\n" "\n.\n" vexil_license_text "${vexil_license_text}")
  string(REPLACE "\n" "\n " vexil_license_text "${vexil_license_text}")
  file(WRITE ${PROJECT_BINARY_DIR}/package/debian/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: VexilConn\n\n"
       "Files: *\n"
       "Copyright: 2026 The VexilConn developers\n"
       "License: Expat\n ${vexil_license_text}\n")
  # changelog.gz in Debian's format, one entry pointing at the project's own changelog; its date
  # is SOURCE_DATE_EPOCH's where set (scripts/release sets the commit's).
  string(TIMESTAMP vexil_deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${PROJECT_BINARY_DIR}/package/debian/changelog
       "vexilconn (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * VexilConn ${PROJECT_VERSION}: see CHANGELOG.md in\n"
       "    /usr/share/doc/libvexilconn-dev.\n\n"
       " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${vexil_deb_date}\n")
  set(vexil_deb_changelog ${PROJECT_BINARY_DIR}/package/debian/changelog.gz)
  add_custom_command(OUTPUT ${vexil_deb_changelog}
                     COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/package/debian/changelog
                             > ${vexil_deb_changelog}
                     DEPENDS ${PROJECT_BINARY_DIR}/package/debian/changelog)
  add_custom_target(vexilconn_deb_changelog ALL DEPENDS ${vexil_deb_changelog})
  foreach(vexil_deb_package libvexilconn0 libvexilconn-dev)
    if(vexil_deb_package STREQUAL libvexilconn0)
      set(vexil_deb_component DebianRuntimeDoc)
    else()
      set(vexil_deb_component DebianDevelopmentDoc)
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/package/debian/copyright ${vexil_deb_changelog}
            DESTINATION share/doc/${vexil_deb_package} COMPONENT ${vexil_deb_component}
            EXCLUDE_FROM_ALL)
  endforeach()
  # The guide and the other documents go with the development package, in its own folder.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
          DESTINATION share/doc/libvexilconn-dev COMPONENT DebianDevelopmentDoc EXCLUDE_FROM_ALL)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION share/doc/libvexilconn-dev/docs
          COMPONENT DebianDevelopmentDoc EXCLUDE_FROM_ALL FILES_MATCHING PATTERN "*.md")

  set(CPACK_DEBIAN_LIB_PACKAGE_NAME libvexilconn0)
  set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
  # The shlibs file: packages built against libvexilconn.so.0 depend on this version or later,
  # which the versioning rule allows (CHANGELOG.md). ldconfig runs through dpkg's trigger, as
  # Debian asks (CPack's own scripts call it as well).
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  file(WRITE ${PROJECT_BINARY_DIR}/package/debian/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package/debian/triggers)
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvexilconn-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libvexilconn0 (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_LIB_DESCRIPTION
      "connector between a game server and its local HA agent\n"
      "VexilConn is the library a game server (the host) loads so that a\n"
      "monitoring agent on the same machine can watch and steer it: it keeps\n"
      "one TCP connection to the agent, answers the agent's requests by asking\n"
      "the host, carries out its orders and forwards the host's warnings.\n"
      "\n"
      "This package holds the shared library.")
  set(CPACK_DEBIAN_DEV_DESCRIPTION
      "connector between a game server and its HA agent: development files\n"
      "VexilConn is the library a game server (the host) loads so that a\n"
      "monitoring agent on the same machine can watch and steer it.\n"
      "\n"
      "This package holds what a host is built with: the C and C++ header, the\n"
      "C# binding, the pkg-config and CMake package files, the stand-in agent\n"
      "ha-agent for testing a host, and the integration guide.")
  list(JOIN CPACK_DEBIAN_LIB_DESCRIPTION "" CPACK_DEBIAN_LIB_DESCRIPTION)
  list(JOIN CPACK_DEBIAN_DEV_DESCRIPTION "" CPACK_DEBIAN_DEV_DESCRIPTION)
endif()

# Which components each generator packs: the archives every component of a plain install, the
# Debian packages their two groups.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/VexilConnPackagingGenerators.cmake)

include(CPack)
cpack_add_component_group(lib)
cpack_add_component_group(dev)
cpack_add_component(Runtime GROUP lib)
cpack_add_component(Development GROUP dev DEPENDS Runtime)
cpack_add_component(Documentation GROUP dev)
cpack_add_component(DebianRuntimeDoc GROUP lib)
cpack_add_component(DebianDevelopmentDoc GROUP dev)
