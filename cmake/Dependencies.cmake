# Every system library the build uses, found once, here, and required: a
# missing package stops the configure step with its name instead of leaving
# a part out. Subfolders only link the targets defined here.

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(Qt6 REQUIRED COMPONENTS Widgets Network)
find_package(Boost 1.74 REQUIRED COMPONENTS system)

# SDL2 through its CMake package (SDL2::SDL2) only.
find_package(SDL2 REQUIRED CONFIG)

# Xlib and the extensions the X11 backends use.
find_package(X11 REQUIRED)
foreach(ext Xext Xtst Xfixes Xrandr)
  if(NOT X11_${ext}_FOUND)
    message(FATAL_ERROR "X11 extension library ${ext} not found (Debian: lib${ext}-dev)")
  endif()
endforeach()
# X DAMAGE: the screen grabber learns which parts of the screen changed.
if(NOT X11_Xdamage_FOUND)
  message(FATAL_ERROR "X11 extension library Xdamage not found (Debian: libxdamage-dev)")
endif()

pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(LIBAVCODEC REQUIRED IMPORTED_TARGET libavcodec)
pkg_check_modules(LIBAVFORMAT REQUIRED IMPORTED_TARGET libavformat)
pkg_check_modules(LIBAVUTIL REQUIRED IMPORTED_TARGET libavutil)
pkg_check_modules(LIBSWRESAMPLE REQUIRED IMPORTED_TARGET libswresample)
pkg_check_modules(LIBSWSCALE REQUIRED IMPORTED_TARGET libswscale)
pkg_check_modules(FAAD2 REQUIRED IMPORTED_TARGET faad2)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(LIBQRENCODE REQUIRED IMPORTED_TARGET libqrencode)

# libyuv (Debian libyuv-dev ships no pkg-config file): SIMD colour conversion
# and scaling for the encoder and the recorder.
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(LIBYUV_LIBRARY yuv REQUIRED)
add_library(libyuv::libyuv UNKNOWN IMPORTED)
set_target_properties(libyuv::libyuv PROPERTIES
  IMPORTED_LOCATION ${LIBYUV_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${LIBYUV_INCLUDE_DIR})
find_package(Boost 1.74 REQUIRED COMPONENTS regex)

# GNOME Wayland sessions: mutter's D-Bus APIs and PipeWire screencast streams.
pkg_check_modules(DBUS REQUIRED IMPORTED_TARGET dbus-1)
pkg_check_modules(PIPEWIRE REQUIRED IMPORTED_TARGET libpipewire-0.3)
