# plotmire_embed(<executable target>)
# Carries the built chart program inside an executable as the Qt resource ":/plotmire/Plotmire.exe",
# without its debug information; ExtractEmbeddedFile(":/plotmire/Plotmire.exe", "Plotmire.exe")
# writes it out. Include this file from any folder: the plotmire target may be defined later.
find_package(Qt6 REQUIRED COMPONENTS Core)

function(plotmire_embed target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_plotmire_embed)
  set(program ${dir}/Plotmire.exe)
  set(qrc ${dir}/plotmire_embed.qrc)
  set(cpp ${dir}/qrc_plotmire_embed.cpp)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${qrc} "<RCC>\n  <qresource prefix=\"/plotmire\">\n    <file>Plotmire.exe</file>\n  </qresource>\n</RCC>\n")
  if(CMAKE_OBJCOPY)
    set(copy_program ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:plotmire> ${program})
  else()
    set(copy_program ${CMAKE_COMMAND} -E copy $<TARGET_FILE:plotmire> ${program})
  endif()
  add_custom_command(OUTPUT ${program}
    COMMAND ${copy_program}
    DEPENDS plotmire $<TARGET_FILE:plotmire>
    COMMENT "Taking the chart program in as Plotmire.exe"
    VERBATIM)
  add_custom_command(OUTPUT ${cpp}
    COMMAND Qt6::rcc --name plotmire_embed -o ${cpp} ${qrc}
    DEPENDS ${qrc} ${program}
    WORKING_DIRECTORY ${dir}
    VERBATIM)
  set_source_files_properties(${cpp} PROPERTIES SKIP_AUTOGEN ON)
  target_sources(${target} PRIVATE ${cpp})
endfunction()
