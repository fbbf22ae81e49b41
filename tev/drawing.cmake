# Included by tev/CMakeLists.txt: the failure-overlay drawing (TEV_Image.h)
# and the font it embeds, both part of TEV::tev.
find_package(Boost 1.74 REQUIRED)   # header-only: base64 archive iterators
find_path(TEV_STB_INCLUDE_DIR stb/stb_truetype.h REQUIRED)

# The font becomes a constant byte array at build time.
set(_tev_font "${CMAKE_CURRENT_SOURCE_DIR}/fonts/RobotoMono-Bold.ttf")
set(_tev_font_cpp "${CMAKE_CURRENT_BINARY_DIR}/generated/RobotoMonoBold.cpp")
add_custom_command(
  OUTPUT "${_tev_font_cpp}"
  COMMAND "${CMAKE_COMMAND}" -DINPUT=${_tev_font} -DOUTPUT=${_tev_font_cpp}
          -DNAMESPACE=Fonts -DNAME=RobotoMonoBold
          -P "${CMAKE_CURRENT_SOURCE_DIR}/fonts/EmbedFile.cmake"
  DEPENDS "${_tev_font}" "${CMAKE_CURRENT_SOURCE_DIR}/fonts/EmbedFile.cmake"
  COMMENT "Embedding RobotoMono-Bold.ttf"
  VERBATIM)

target_sources(tev PRIVATE
  Base64.cpp
  Circle.cpp
  Overlay.cpp
  TextRender.cpp
  Utf8.cpp
  "${_tev_font_cpp}")
target_include_directories(tev PRIVATE ${TEV_STB_INCLUDE_DIR} ${Boost_INCLUDE_DIRS})

install(FILES include/TEV_Image.h DESTINATION ${TEV_INSTALL_INCLUDEDIR})
