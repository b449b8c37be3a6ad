# Installation and packaging: the plug-in with its public C headers, the host toolkit,
# dxftext and its man page, pkg-config files, a CMake package, and a Debian package (the
# Python module installs itself from python/).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(WQ_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/wqdxfrdr)
set(WQ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/wqdxfrdr)

# The toolkit installs under a name that says whose it is, as wqdxfrdr::host. It is built
# position-independent because the host linking it may itself be a shared object.
set_target_properties(wqhost PROPERTIES
  OUTPUT_NAME wqdxfrdr-host EXPORT_NAME host POSITION_INDEPENDENT_CODE ON)

install(TARGETS wqdxfrdr wqhost EXPORT wqdxfrdrTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# dxftext loads the plug-in from its library folder by path (see tools/), so it needs no
# run path of its own.
install(TARGETS dxftext RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/tools/dxftext.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Public headers: the C headers a host includes (wqdxfrdr.h and what it includes), and the
# toolkit's. The modules' own headers and DxfVocabulary.h stay out: nothing they declare is
# exported. LineReads.hpp and GroupLines.hpp are the toolkit's internals.
set(WQ_PUBLIC_HEADERS)
foreach(name wqdxfrdr.h WqExport.h DxfHost.h DxfSourceRecord.h DxfSource.h)
  list(APPEND WQ_PUBLIC_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/include/${name})
endforeach()
set(WQ_HOST_HEADERS)
foreach(name MallocServices Plugin Document input/MemoryStream input/FileStream
             input/StreamWatch input/ReadAll input/DrawingFiles input/BinaryDxf input/Archive
             input/TemporaryFile
             drawing/Encoding
             drawing/MtextPlain drawing/TextEntityReader output/RecordLine output/Json
             drawing/Metadata)
  list(APPEND WQ_HOST_HEADERS ${CMAKE_CURRENT_SOURCE_DIR}/host/${name}.hpp)
endforeach()
install(FILES ${WQ_PUBLIC_HEADERS} DESTINATION ${WQ_INSTALL_INCLUDEDIR})
install(FILES ${WQ_HOST_HEADERS} DESTINATION ${WQ_INSTALL_INCLUDEDIR}/host)

# CMake package: find_package(wqdxfrdr) gives wqdxfrdr::wqdxfrdr and wqdxfrdr::host.
install(EXPORT wqdxfrdrTargets NAMESPACE wqdxfrdr:: DESTINATION ${WQ_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/wqdxfrdrConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdrConfig.cmake INSTALL_DESTINATION ${WQ_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdrConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdrConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdrConfigVersion.cmake
        DESTINATION ${WQ_INSTALL_CMAKEDIR})

# pkg-config: wqdxfrdr for the headers and the plug-in, wqdxfrdr-host for the toolkit.
# The files find the prefix from their own place, so an install under another prefix
# (cmake --install --prefix) still names the right folders; a package, whose prefix is
# known, writes it plainly instead.
set(WQ_PKGCONFIG_PREFIX "" CACHE STRING
    "Prefix written into the pkg-config files (empty: found from the files' own place)")
set(WQ_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(WQ_PKGCONFIG_PREFIX)
  set(WQ_PC_PREFIX ${WQ_PKGCONFIG_PREFIX})
elseif(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
  set(WQ_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH WQ_PC_UP /prefix/${WQ_PC_DIR} /prefix)
  string(REGEX REPLACE "/$" "" WQ_PC_UP ${WQ_PC_UP})
  set(WQ_PC_PREFIX "\${pcfiledir}/${WQ_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
    set(WQ_PC_${dir} ${CMAKE_INSTALL_${dir}})
  else()
    set(WQ_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
# The toolkit's own link dependencies, as linker flags.
set(WQ_PC_HOST_LIBS)
set(WQ_HOST_DEPENDENCIES ${CMAKE_DL_LIBS})
if(WQ_ARCHIVES)
  list(APPEND WQ_HOST_DEPENDENCIES archive)
endif()
foreach(dependency ${WQ_HOST_DEPENDENCIES})
  string(APPEND WQ_PC_HOST_LIBS " -l${dependency}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/wqdxfrdr.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdr.pc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wqdxfrdr-host.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdr-host.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdr.pc ${CMAKE_CURRENT_BINARY_DIR}/wqdxfrdr-host.pc
        DESTINATION ${WQ_PC_DIR})

# Debian package (make package): one package holding everything above, under /usr.
set(WQ_PACKAGE_MAINTAINER
    "wqdxfrdr maintainers <maintainers@users.noreply.c-seed-49e742b9.example>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wqdxfrdr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader plug-in that pulls the text out of ASCII DXF drawings")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${WQ_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"libwqdxfrdr.so is a reader plug-in for document-filtering hosts (search indexing,
e-discovery, content conversion): it delivers the text of the TEXT, ATTDEF, ATTRIB and
BLOCK entities of ASCII DXF drawings as a sequence of records.
This package also holds the dxftext command, which prints the text of drawings as
UTF-8, the Python module wqdxfrdr, which gives the same entities, fields and metadata
to Python programs, the plug-in's C headers, and a static host toolkit with its C++
headers, with pkg-config files and a CMake package for building hosts.")
# Dependencies are worked out from the binaries by dpkg-shlibdeps (Debian's dpkg-dev):
# dxftext's give libarchive13. A host built on the static toolkit links libarchive itself,
# from libarchive-dev, which a plain user of dxftext does not need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Python module needs the interpreter it was built for, which no shared library names.
if(WQ_PYTHON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${WQ_PYTHON_DEBIAN_DEPENDS}")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libarchive-dev)
include(CPack)
