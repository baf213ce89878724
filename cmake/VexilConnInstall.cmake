# Install rules and the CMake package for host developers, each platform into a prefix of its own
# (each Windows architecture too):
#
#   <prefix>/include/vexilconn/   the header a host compiles against, and the C# binding
#   <prefix>/lib/                 Linux: libvexilconn.so with its soname links
#                                 Windows: VexilConn's import libraries (MinGW's .dll.a, an MSVC
#                                 .lib where llvm-dlltool is installed), its .def, and Zoth's
#                                 import library (see below)
#   <prefix>/bin/                 Linux: ha-agent; Windows: VexilConn.dll, Zoth.dll, ha-agent.exe,
#                                 vexil-windows-check.exe
#   <prefix>/lib/cmake/VexilConn/ VexilConnConfig.cmake and VexilConnConfigVersion.cmake
#   <prefix>/lib/pkgconfig/       Linux: vexilconn.pc
#   <prefix>/share/doc/VexilConn/ README, changelog, licence and docs/
#
# Components, for the release packages (cmake/VexilConnPackaging.cmake): Runtime (what a host
# runs with: the library, its soname link, Zoth.dll, the self-check), Development (what a host is
# built with, and ha-agent), Documentation.
#
# A host project then says find_package(VexilConn CONFIG REQUIRED) and
# target_link_libraries(game PRIVATE VexilConn::VexilConn); on Linux, pkg-config vexilconn or
# -I<prefix>/include and -L<prefix>/lib -lvexilconn do as well.
#
# The package config is written here rather than exported from the build targets: those carry
# build-tree include folders and private links to internal static libraries, none of which a host
# may see. Each installed target is optional, so the rules work while parts are still missing.
include(CMakePackageConfigHelpers)

set(vexil_package_dir lib/cmake/VexilConn)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vexilconn DESTINATION include COMPONENT Development)
# What a host developer reads first: the README, the guide and the other documents, the changelog
# with its versioning rule, the licence.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION share/doc/VexilConn COMPONENT Documentation)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION share/doc/VexilConn/docs
        COMPONENT Documentation FILES_MATCHING PATTERN "*.md")

if(TARGET ha-agent)
  install(TARGETS ha-agent RUNTIME DESTINATION bin COMPONENT Development)
  set(vexil_agent_exe "$<TARGET_FILE_NAME:ha-agent>")
endif()
math(EXPR vexil_package_bits "${CMAKE_SIZEOF_VOID_P} * 8")
set(vexil_package_system ${CMAKE_SYSTEM_NAME})

if(VEXIL_WINDOWS)
  if(TARGET VexilConn)
    install(TARGETS VexilConn RUNTIME DESTINATION bin COMPONENT Runtime
                              ARCHIVE DESTINATION lib COMPONENT Development)
    set(vexil_conn_dll "$<TARGET_FILE_NAME:VexilConn>")
    set(vexil_conn_implib "$<TARGET_LINKER_FILE_NAME:VexilConn>")
  endif()
  # Zoth's import library goes with it: the package describes Zoth.dll as an imported shared
  # library, which CMake only accepts with one. A host links nothing from it (Zoth.dll exports
  # ordinal 9 alone), so the linker adds no import; it only tells CMake that VexilConn.dll needs
  # Zoth.dll beside it ($<TARGET_RUNTIME_DLLS>).
  if(TARGET zoth)
    install(TARGETS zoth RUNTIME DESTINATION bin COMPONENT Runtime
                         ARCHIVE DESTINATION lib COMPONENT Development)
    set(vexil_zoth_dll "$<TARGET_FILE_NAME:zoth>")
    set(vexil_zoth_implib "$<TARGET_LINKER_FILE_NAME:zoth>")
  endif()
  # The exports with their ordinals, for linkers and tools that make their own import library.
  install(FILES ${PROJECT_SOURCE_DIR}/src/host/VexilConn.def DESTINATION lib COMPONENT Development)
  # An import library for MSVC-ABI linkers (link.exe, lld-link), made from the DLL's own .def by
  # llvm-dlltool where it is installed: for hosts that use the C interface, the only one such
  # compilers can use (see the header).
  find_program(VEXIL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
  if(VEXIL_LLVM_DLLTOOL AND TARGET VexilConn)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(vexil_msvc_machine i386:x86-64)
    else()
      set(vexil_msvc_machine i386)
    endif()
    set(vexil_msvc_implib ${PROJECT_BINARY_DIR}/package/VexilConn.lib)
    add_custom_command(OUTPUT ${vexil_msvc_implib}
                       COMMAND ${VEXIL_LLVM_DLLTOOL} -m ${vexil_msvc_machine}
                               -d ${PROJECT_SOURCE_DIR}/src/host/VexilConn.def -l ${vexil_msvc_implib}
                       DEPENDS ${PROJECT_SOURCE_DIR}/src/host/VexilConn.def VERBATIM)
    add_custom_target(vexilconn_msvc_implib ALL DEPENDS ${vexil_msvc_implib})
    install(FILES ${vexil_msvc_implib} DESTINATION lib COMPONENT Development)
  endif()
  # The self-check a user runs on Windows: it loads VexilConn.dll from its own folder, so it is
  # installed beside the DLLs.
  if(TARGET vexil-windows-check)
    install(TARGETS vexil-windows-check RUNTIME DESTINATION bin COMPONENT Runtime)
  endif()

  # The architecture of this build's DLL, and the toolchain its hosts need.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(vexil_package_other_bits 32)
    set(vexil_package_toolchain "x86_64 (cmake/mingw-x64.cmake)")
  else()
    set(vexil_package_other_bits 64)
    set(vexil_package_toolchain "i686 (cmake/mingw-x86.cmake)")
  endif()
  set(vexil_package_what "the ${vexil_package_bits}-bit Windows DLL")
  set(vexil_package_other_system
      "a Linux host needs VexilConn's Linux package (libvexilconn.so, installed from a native \
build); a Windows host is built with the MinGW-w64 ${vexil_package_toolchain} toolchain")
  set(vexil_package_other_arch
      "build a ${vexil_package_bits}-bit host with the MinGW-w64 ${vexil_package_toolchain} \
toolchain, or point CMAKE_PREFIX_PATH at a ${vexil_package_other_bits}-bit VexilConn installation")
  set(vexil_package_config VexilConnConfigWindows.cmake.in)
else()
  if(TARGET VexilConn)
    # The library and its soname link (libvexilconn.so.0) are what a host runs with; the
    # link-time name (libvexilconn.so) is for building one.
    install(TARGETS VexilConn LIBRARY DESTINATION lib COMPONENT Runtime
                                      NAMELINK_COMPONENT Development)
    set(vexil_conn_library "$<TARGET_FILE_NAME:VexilConn>")
    set(vexil_conn_soname "$<TARGET_SONAME_FILE_NAME:VexilConn>")
    # pkg-config finds the prefix from the file's own place, so the tree may move.
    configure_file(${CMAKE_CURRENT_LIST_DIR}/vexilconn.pc.in
                   ${PROJECT_BINARY_DIR}/package/vexilconn.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/package/vexilconn.pc DESTINATION lib/pkgconfig
            COMPONENT Development)
  endif()
  set(vexil_package_what "the ${vexil_package_bits}-bit Linux library libvexilconn.so")
  set(vexil_package_other_system
      "a Windows host needs VexilConn's Windows package of its architecture (VexilConn.dll, \
installed from the mingw-x86 or mingw-x64 build)")
  set(vexil_package_other_arch
      "build a ${vexil_package_bits}-bit host, or point CMAKE_PREFIX_PATH at a VexilConn \
installation built for the host's architecture")
  set(vexil_package_config VexilConnConfigLinux.cmake.in)
endif()

# Two steps: configure_file fills in the version, file(GENERATE) the file names of the targets.
configure_file(${CMAKE_CURRENT_LIST_DIR}/${vexil_package_config}
               ${PROJECT_BINARY_DIR}/package/VexilConnConfig.cmake.genex @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/package/VexilConnConfig.cmake
     INPUT ${PROJECT_BINARY_DIR}/package/VexilConnConfig.cmake.genex)
# Before 1.0 a minor version may change the header in ways that need a host's source edited, so
# the package accepts only its own minor version; from 1.0 on, its own major version (the rule is
# in CHANGELOG.md's head). The version file also
# refuses a consumer of another system, or whose pointer size differs from this build's library,
# so that a consumer given the prefixes of several installations takes the one that fits. When
# none fits, CMake lists what it refused with each package's version text, so that text says what
# to do.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(vexil_package_compatibility SameMinorVersion)
else()
  set(vexil_package_compatibility SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/VexilConnConfigVersionBasic.cmake
                                 VERSION ${PROJECT_VERSION}
                                 COMPATIBILITY ${vexil_package_compatibility})
file(READ ${PROJECT_BINARY_DIR}/package/VexilConnConfigVersionBasic.cmake vexil_package_version)
string(APPEND vexil_package_version "
if(CMAKE_SYSTEM_NAME AND NOT CMAKE_SYSTEM_NAME STREQUAL \"${vexil_package_system}\")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
  set(PACKAGE_VERSION
      \"${PROJECT_VERSION}, ${vexil_package_what}: ${vexil_package_other_system}\")
elseif(PACKAGE_VERSION_UNSUITABLE AND CMAKE_SIZEOF_VOID_P AND
       NOT CMAKE_SIZEOF_VOID_P STREQUAL \"${CMAKE_SIZEOF_VOID_P}\")
  set(PACKAGE_VERSION \"${PROJECT_VERSION}, ${vexil_package_what}: ${vexil_package_other_arch}\")
endif()
")
file(WRITE ${PROJECT_BINARY_DIR}/package/VexilConnConfigVersion.cmake "${vexil_package_version}")
install(FILES ${PROJECT_BINARY_DIR}/package/VexilConnConfig.cmake
              ${PROJECT_BINARY_DIR}/package/VexilConnConfigVersion.cmake
        DESTINATION ${vexil_package_dir} COMPONENT Development)
