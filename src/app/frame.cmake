# The window frame: registry and lifecycle, controls, message boxes.
add_library(zandrel_frame STATIC
    clock.cpp clock.h
    controls.cpp controls.h
    desktop_mail.cpp
    form.cpp form.h
    qt_message_boxes.cpp qt_message_boxes.h
    registry.cpp registry.h)
target_link_libraries(zandrel_frame PUBLIC zandrel_platform Qt6::Widgets)
