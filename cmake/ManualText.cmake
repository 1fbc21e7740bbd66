# Renders the manual page as plain text for Windows: cmake -DMANDOC=... -DPAGE=
# doc/valdoria.6 -DTEXT=valdoria.txt -P ManualText.cmake. ASCII only, with no
# overstriking for bold and underline, and CR LF line ends, so that Notepad
# and the console's "type" show it as it is.
execute_process(COMMAND ${MANDOC} -T ascii ${PAGE} OUTPUT_VARIABLE text
                COMMAND_ERROR_IS_FATAL ANY)
# Bold is "X backspace X", underline "_ backspace X": keep the last character.
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
