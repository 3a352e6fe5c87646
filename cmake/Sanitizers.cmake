# Applies ZIMP_SANITIZE to every target of the build.
if(ZIMP_SANITIZE)
  set(_san "-fsanitize=${ZIMP_SANITIZE}" -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_san} -g -O1)
  add_link_options(${_san})
endif()
