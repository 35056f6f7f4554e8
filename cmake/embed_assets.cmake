# cmake -DOUTPUT=file.cpp -DINPUTS="a.html;b.js" -P embed_assets.cmake
# writes the files as byte arrays behind page_assets.h's table.
set(body "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
  get_filename_component(name "${input}" NAME)
  get_filename_component(extension "${input}" LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  else()
    set(type "application/octet-stream")
  endif()
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char kAsset${index}[] = {${bytes} 0};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\", {kAsset${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new"
  "// Generated from src/explore/page by cmake/embed_assets.cmake.\n"
  "#include \"explore/page_assets.h\"\n\n"
  "namespace quatdepth {\nnamespace {\n${body}}  // namespace\n\n"
  "const PageAsset kPageAssets[] = {\n${table}};\n"
  "const size_t kPageAssetCount = ${index};\n\n}  // namespace quatdepth\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
