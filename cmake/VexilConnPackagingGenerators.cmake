# Read by CPack for each generator it runs (CPACK_PROJECT_CONFIG_FILE): the components that
# generator packs. The archives hold a plain install of every component; the Debian packages hold
# the library and development components, each with the copyright and changelog Debian puts in
# /usr/share/doc/PACKAGE, the documents in libvexilconn-dev's.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL Runtime Development DebianRuntimeDoc DebianDevelopmentDoc)
else()
  set(CPACK_COMPONENTS_ALL Runtime Development Documentation)
endif()
