# Writes OUTPUT, a C++ source that holds the bytes of every file in THEME_DIR
# as the built-in theme (see src/engine/modern/builtin_theme.h).
# Run as: cmake -DTHEME_DIR=... -DOUTPUT=... -P embed_theme.cmake
file(GLOB theme_files RELATIVE "${THEME_DIR}" "${THEME_DIR}/*")
list(SORT theme_files)
set(arrays "")
set(rows "")
set(index 0)
foreach(name IN LISTS theme_files)
  if(IS_DIRECTORY "${THEME_DIR}/${name}")
    continue()
  endif()
  file(READ "${THEME_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
  # One more byte, so that an empty file still makes an array.
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n${bytes}0};\n")
  string(APPEND rows "    {\"${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
set(text "// Generated from the files of themes/default by cmake/embed_theme.cmake.\n")
string(APPEND text "#include \"engine/modern/builtin_theme.h\"\n\nnamespace {\n\n${arrays}\n")
string(APPEND text "const TBuiltinThemeFile kFiles[] = {\n${rows}};\n\n}  // namespace\n\n")
string(APPEND text "std::span<const TBuiltinThemeFile> BuiltinThemeFiles() { return kFiles; }\n")
# Rewritten only when different, so a configure without theme changes
# rebuilds nothing.
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
