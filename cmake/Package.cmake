# `cpack -G DEB` (or `cpack --preset deb`): kalventa-checkout_VERSION_ARCH.deb
# from what `cmake --install` puts in place. Configure with
# CMAKE_INSTALL_PREFIX=/usr (the release preset does).
set(KC_PACKAGE_MAINTAINER "Kalventa Checkout maintainers <checkout@kalventa.example>"
    CACHE STRING "Maintainer of the Debian package")

set(CPACK_PACKAGE_NAME kalventa-checkout)
set(CPACK_PACKAGE_VENDOR Kalventa)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KC_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "guided performance checkout of 2430-family oscilloscopes over GPIB")
set(CPACK_PACKAGE_DESCRIPTION
    "Kalventa Checkout guides a service technician through the performance
checkout of a 2430-family digital storage oscilloscope (2430, 2430A, 2431L,
2432, 2432A, 2439L, 2440) over GPIB. It writes its instructions and menus on
the instrument's own screen, waits for the technician's bezel-button presses,
reads measurements back and shows each result with its limit and a PASS or
fail verdict.

It reaches the instrument through Prologix or AR488 GPIB adapters (network or
serial port) or a linux-gpib board. A built-in simulated oscilloscope and
bench, also served as an adapter by kalventa-sim, allow rehearsing the
checkout without an instrument.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KC_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The linux-gpib user library is loaded at run time, for the gpib:N buses only.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS libgpib0)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
