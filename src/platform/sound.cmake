# Sound capture: PulseAudio sources and the default output's monitor; ALSA
# capture devices by name when no sound server runs.
if(NOT TARGET PkgConfig::PULSE)
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
endif()
if(NOT TARGET PkgConfig::ALSA)
  pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
endif()

add_library(lumacro_platform_sound STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/sound_capture_pulse.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/sound_capture_alsa.cpp)
target_include_directories(lumacro_platform_sound PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(lumacro_platform_sound PUBLIC lumacro_support PRIVATE PkgConfig::PULSE PkgConfig::ALSA)
