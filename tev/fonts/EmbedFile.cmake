# Writes a C++ source defining a file's bytes as a constant array.
# cmake -DINPUT=<file> -DOUTPUT=<.cpp> -DNAMESPACE=<ns> -DNAME=<symbol> -P EmbedFile.cmake
# Defines  const unsigned char <ns>::<NAME>[]  and  const unsigned int <ns>::<NAME>_size.
foreach(var INPUT OUTPUT NAMESPACE NAME)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedFile.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "EmbedFile.cmake: ${INPUT} is empty")
endif()
# 16 bytes per line, each as 0xNN.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n" bytes "${bytes}")

get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
"// Generated from ${source_name} by EmbedFile.cmake; do not edit.\n"
"namespace ${NAMESPACE} {\n"
"extern const unsigned char ${NAME}[];\n"
"extern const unsigned int ${NAME}_size;\n"
"const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
"const unsigned int ${NAME}_size = ${size};\n"
"}  // namespace ${NAMESPACE}\n")
