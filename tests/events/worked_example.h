// The panel handler class of the worked example: two events, Click (documented, no
// parameters) and KeyDown (four parameters, the last one unnamed), class name PanelHandler.
#pragma once

#include <QString>
#include <QStringList>

inline constexpr const char* kPanelHandler = R"(DEF CLASS "PanelHandler"
   PROPERTY EventCaller GET GetEventCaller SET Err
   PROPERTY EventStack GET GetEventStack SET Err
   PROPERTY EventsDispatched GET GetEventsDispatched SET Err
   PROPERTY EventsDiscarded GET GetEventsDiscarded SET Err
   FUNCTION Event_Click() Event_Click FOR EVENT "Click"
   FUNCTION Event_KeyDown(int_KeyCode, obj_Source, str_Caption$, dbl_Param4) Event_KeyDown FOR EVENT "KeyDown"
END DEF
!
STOP
!
! CONSTRUCTOR On_Create
!
On_Create:
!
!   < Insert code here >
!
RETURN
!
! DESTRUCTOR On_Delete
!
On_Delete:
!
!   < Insert code here >
!
RETURN
!
! PROPERTY EventCaller (GET)
!
GetEventCaller:
RETURN TCB(120)
!
! PROPERTY EventStack (GET)
!
GetEventStack:
RETURN TCB(122)
!
! PROPERTY EventsDispatched (GET)
!
GetEventsDispatched:
RETURN TCB(121)
!
! PROPERTY EventsDiscarded (GET)
!
GetEventsDiscarded:
RETURN TCB(123)
!
! EVENT Click - Occurs when the panel is clicked
!
Event_Click:
!
!   < Insert code here >
!
RETURN
!
! EVENT KeyDown
!
Event_KeyDown:
ENTER int_KeyCode, obj_Source, str_Caption$, dbl_Param4
IF (obj_Source <> 0) THEN DEF OBJECT obj_Source
!
!   < Insert code here >
!
IF (obj_Source <> 0) THEN DELETE OBJECT obj_Source
RETURN)";

inline QStringList SplitLines(const char* text) { return QString::fromUtf8(text).split(u'\n'); }
