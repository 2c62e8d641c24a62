# A Debian package of everything "cmake --install" installs:
#   cpack --config build/CPackConfig.cmake -B build/package
# dpkg-shlibdeps works out the library packages the programs need.
set(CPACK_PACKAGE_NAME vellumcast)
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_CONTACT "Vellumcast developers <vellumcast@korvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turns a tree of image folders into static HTML catalogs")
set(CPACK_PACKAGE_DESCRIPTION "Vellumcast walks a tree of image folders and writes browsable HTML catalog\n pages with optional JPEG thumbnails into every folder. It comes as a desktop\n window (vellumcast) and a command line (vellumcast-cli).")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://vellumcast.korvane.example/")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
