# Writes the one self-contained page: the hand-written template with the
# workers' source (the engine Emscripten generated, its WebAssembly inlined,
# then worker.js) and the page's script put in its two script elements.
#
# cmake -DTEMPLATE=... -DENGINE=... -DWORKER=... -DPAGE_SCRIPT=... -DVERSION=... -DOUTPUT=... -P assemble_page.cmake
foreach(input IN ITEMS TEMPLATE ENGINE WORKER PAGE_SCRIPT VERSION OUTPUT)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "assemble_page.cmake: ${input} is not set")
  endif()
endforeach()
file(READ "${TEMPLATE}" page)
file(READ "${ENGINE}" engine)
file(READ "${WORKER}" worker)
file(READ "${PAGE_SCRIPT}" page_script)

# The engine sees no fetch, XMLHttpRequest or importScripts of its own: with
# its WebAssembly inlined it needs none, and the page's policy forbids them
# anyway (a refused attempt would still show as an error).
set(worker_source "(function () {\nvar fetch, XMLHttpRequest, importScripts;\n${engine}\nself.createMintEngine = createMintEngine;\n})();\n${worker}")

# Inside a script element, these would end it or change how it is read.
foreach(script IN ITEMS worker_source page_script)
  string(TOLOWER "${${script}}" lowered)
  foreach(stop IN ITEMS "</script" "<!--" "<script")
    string(FIND "${lowered}" "${stop}" found)
    if(NOT found EQUAL -1)
      message(FATAL_ERROR "assemble_page.cmake: the ${script} holds '${stop}', which cannot be inlined")
    endif()
  endforeach()
endforeach()

string(REPLACE "@MINT_VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@MINT_PAGE_SCRIPT@" "${page_script}" page "${page}")
string(REPLACE "@MINT_WORKER_SOURCE@" "${worker_source}" page "${page}")
file(WRITE "${OUTPUT}.tmp" "${page}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
