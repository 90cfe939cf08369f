# Writes the plain twin of the mail window's description: the same widget
# tree, geometry, texts and pictures, each of our widget classes replaced by
# the Qt class nearest to it, so that what remains is what Qt itself costs.
#   cmake -DIN=mailform.ui -DOUT=plainwindow.ui -P plainui.cmake
file(READ "${IN}" ui)
# Buttons with a picture: a push button with an icon.
string(REGEX REPLACE
  "<property name=\"glyph\" stdset=\"0\">([ \n]*)<pixmap resource=\"([^\"]*)\">([^<]*)</pixmap>"
  "<property name=\"icon\">\\1<iconset resource=\"\\2\"><normaloff>\\3</normaloff>\\3</iconset>" ui "${ui}")
# Pictures: a label showing the pixmap.
string(REPLACE "<property name=\"picture\" stdset=\"0\">" "<property name=\"pixmap\">" ui "${ui}")
foreach(pair "TBitBtn=QPushButton" "TLabel=QLabel" "TStatusBar=QLabel" "TImage=QLabel"
             "TMessageView=QPlainTextEdit" "TUpDown=QSpinBox" "TSMTP=QWidget" "TPOP=QWidget")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 ours)
  list(GET pair 1 plain)
  string(REPLACE "class=\"${ours}\"" "class=\"${plain}\"" ui "${ui}")
endforeach()
string(REGEX REPLACE "<customwidgets>.*</customwidgets>" "" ui "${ui}")
string(REPLACE "<class>MailForm</class>" "<class>PlainWindow</class>" ui "${ui}")
if(ui MATCHES "class=\"T[A-Z]")
  message(FATAL_ERROR "plainui.cmake: a widget class of ours is left in ${OUT}")
endif()
file(WRITE "${OUT}" "${ui}")
