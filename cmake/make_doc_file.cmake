# Writes one compressed file of the package's documentation, at build time:
#
#   cmake -DKIND=man -DPARTS="a.md|b.md" -DOUT=x.1.gz -DMD2MAN=/usr/bin/go-md2man
#         -DVERSION=1.5.0 -P make_doc_file.cmake      a man page from Markdown parts
#   cmake -DKIND=text -DPARTS=changelog.in -DOUT=changelog.gz -DVERSION=... -P ...
#
# Parts are joined in order with @PROJECT_VERSION@, @KORVANTE_MAINTAINER@,
# @KORVANTE_MAN_DATE@ and @KORVANTE_CHANGELOG_DATE@ filled in; a part from docs/ other than docs/man/
# loses its first line when that is its title ("# korvante-cli"), so that a
# document becomes the body of a man page. Dates follow SOURCE_DATE_EPOCH when
# set, so that a rebuild gives the same bytes. Compressed with gzip -9n (no name,
# no time stamp), as Debian's policy asks.
cmake_minimum_required(VERSION 3.20)
set(PROJECT_VERSION ${VERSION})
set(KORVANTE_MAINTAINER "${MAINTAINER}")
string(TIMESTAMP KORVANTE_MAN_DATE "%B %Y" UTC)
string(TIMESTAMP KORVANTE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(text "")
string(REPLACE "|" ";" parts "${PARTS}")
foreach(part IN LISTS parts)
  file(READ "${part}" body)
  if(NOT part MATCHES "/docs/man/" AND body MATCHES "^# [^\n]*\n")
    string(REGEX REPLACE "^# [^\n]*\n" "" body "${body}")
  endif()
  string(APPEND text "${body}\n")
endforeach()
string(CONFIGURE "${text}" text @ONLY)
get_filename_component(out_dir "${OUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
if(KIND STREQUAL "man")
  file(WRITE "${plain}.md" "${text}")
  execute_process(COMMAND "${MD2MAN}" -in "${plain}.md" -out "${plain}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "go-md2man failed on ${plain}.md")
  endif()
else()
  file(WRITE "${plain}" "${text}")
endif()
execute_process(COMMAND gzip -9nf "${plain}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${plain}")
endif()
