<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>KcLinkView</name>
    <message>
        <source>LabAccTestLink</source>
        <translation>Test the link of this pair of radios</translation>
    </message>
    <message>
        <source>BtnTestLink</source>
        <translation>Test link</translation>
    </message>
    <message>
        <source>LinkInvite</source>
        <translation>Test the link of this pair</translation>
    </message>
    <message>
        <source>LinkGroundRadio</source>
        <translation>ground</translation>
    </message>
    <message>
        <source>LinkAirborneRadio</source>
        <translation>airborne</translation>
    </message>
    <message>
        <source>LinkReadingBoth</source>
        <translation>Reading the ground and airborne radios</translation>
    </message>
    <message>
        <source>LinkReadingOne</source>
        <translation>Reading the %1 radio</translation>
    </message>
    <message>
        <source>LinkSendingGroundToAirborne</source>
        <translation>Ground to airborne: %1 of %2 frames, %3 s left</translation>
    </message>
    <message>
        <source>LinkSendingAirborneToGround</source>
        <translation>Airborne to ground: %1 of %2 frames, %3 s left</translation>
    </message>
    <message>
        <source>LinkRowGroundToAirborne</source>
        <translation>Ground → airborne: %1 %, %2 lost, %3 corrupt, latency %4/%5 ms</translation>
    </message>
    <message>
        <source>LinkRowAirborneToGround</source>
        <translation>Airborne → ground: %1 %, %2 lost, %3 corrupt, latency %4/%5 ms</translation>
    </message>
    <message>
        <source>LinkLatencyTip</source>
        <translation>Frames delivered intact, lost and corrupt; latency in ms: median / 95th percentile</translation>
    </message>
    <message>
        <source>LinkPasses</source>
        <translation>The radios talk to each other</translation>
    </message>
    <message>
        <source>LinkDifferentIds</source>
        <translation>Different radio IDs: ground %1, airborne %2; nothing was sent</translation>
    </message>
    <message>
        <source>LinkSilent</source>
        <translation>The %1 radio on %2 did not answer</translation>
    </message>
    <message>
        <source>LinkUnreadable</source>
        <translation>The %1 radio on %2 listed no ID</translation>
    </message>
    <message>
        <source>LinkPortFailed</source>
        <translation>The port %1 could not be opened or was lost</translation>
    </message>
    <message>
        <source>LinkStopped</source>
        <translation>The test was stopped; the radios are in data mode</translation>
    </message>
    <message>
        <source>LinkLeftDataMode</source>
        <translation>A radio left data mode during the test; it was sent back</translation>
    </message>
    <message>
        <source>LinkNoFrame</source>
        <translation>No frame from the %1 radio reached the %2 radio</translation>
    </message>
    <message>
        <source>LinkDeliveryGround</source>
        <translation>Ground received %1 % of the airborne radio's frames (%2 % needed)</translation>
    </message>
    <message>
        <source>LinkDeliveryAirborne</source>
        <translation>Airborne received %1 % of the ground's frames (%2 % needed)</translation>
    </message>
</context>
<context>
    <name>KcRadioConfigForm</name>
    <message>
        <source>Form</source>
        <translation>Radio Pair</translation>
    </message>
    <message>
        <source>LabAccGroundRadio</source>
        <translation>Ground radio</translation>
    </message>
    <message>
        <source>LabAccAirborneRadio</source>
        <translation>Airborne radio</translation>
    </message>
</context>
<context>
    <name>KcRadioConfigItemForm</name>
    <message>
        <source>Form</source>
        <translation>Radio</translation>
    </message>
    <message>
        <source>LabTitle</source>
        <translation>Radio</translation>
    </message>
    <message>
        <source>BtnSearch</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>BtnGenerate</source>
        <translation>New</translation>
    </message>
    <message>
        <source>BtnRead</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>LabAirborneIndex</source>
        <translation>Airborne No.</translation>
    </message>
    <message>
        <source>LabBaudRate</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>BtnEarse</source>
        <translation>Erase</translation>
    </message>
    <message>
        <source>BtnConfig</source>
        <translation>Configure</translation>
    </message>
    <message>
        <source>退出指令模式</source>
        <translation>Exit Command Mode</translation>
    </message>
    <message>
        <source>LabRadioOfGround</source>
        <translation>Ground Radio</translation>
    </message>
    <message>
        <source>LabRadioOfAirborne</source>
        <translation>Airborne Radio</translation>
    </message>
    <message>
        <source>MsgOpenSerialPortFail</source>
        <translation>Cannot open the serial port. Check that the radio is powered and cabled and that no other program uses the port; on Linux the user must be in the dialout group.</translation>
    </message>
    <message>
        <source>MsgError</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>LabIdExceeded</source>
        <translation>Radio ID must be a number
from 0 to 4294967295</translation>
    </message>
    <message>
        <source>LabSetting</source>
        <translation>Configuring…</translation>
    </message>
    <message>
        <source>MsgDatalinkEnterCmdModeFailed</source>
        <translation>Radio did not answer.
Check power, cable and port.</translation>
    </message>
    <message>
        <source>LabRadioSetSuccessful</source>
        <translation>Radio configured successfully</translation>
    </message>
    <message>
        <source>LabRadioConfigFail</source>
        <translation>Radio configuration failed</translation>
    </message>
    <message>
        <source>MsgRadioEarseSuccessfully</source>
        <translation>Radio erased</translation>
    </message>
    <message>
        <source>MsgRadioEarseFailed</source>
        <translation>Radio erase failed</translation>
    </message>
    <message>
        <source>LabPortDescription</source>
        <translation>Description: %1</translation>
    </message>
    <message>
        <source>LabPortManufacturer</source>
        <translation>Manufacturer: %1</translation>
    </message>
    <message>
        <source>LabPortSerialNumber</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>LabPortUnplugged</source>
        <translation>%1 (unplugged)</translation>
    </message>
    <message>
        <source>MsgOpenSerialPortFailGeneral</source>
        <translation>Cannot open the serial port. Check that the radio is powered and cabled and that no other program uses the port.</translation>
    </message>
    <message>
        <source>LabAccSerialPort</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>LabAccSearchPorts</source>
        <translation>Search serial ports</translation>
    </message>
    <message>
        <source>LabAccRadioId</source>
        <translation>Radio ID</translation>
    </message>
    <message>
        <source>LabAccNewRadioId</source>
        <translation>Generate a new radio ID</translation>
    </message>
    <message>
        <source>LabAccReadRadio</source>
        <translation>Read radio ID and baud rate</translation>
    </message>
    <message>
        <source>LabAccAirborneIndex</source>
        <translation>Airborne radio number</translation>
    </message>
    <message>
        <source>LabAccBaudRate</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>LabAccEraseRadio</source>
        <translation>Erase radio</translation>
    </message>
    <message>
        <source>LabAccConfigureRadio</source>
        <translation>Configure radio</translation>
    </message>
    <message>
        <source>LabAccLeaveCommandMode</source>
        <translation>Exit command mode</translation>
    </message>
    <message>
        <source>LabAccProgress</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>LabRecordUnwritable</source>
        <translation>The record could not be written: %1</translation>
    </message>
</context>
<context>
    <name>KcRunReport</name>
    <message>
        <source>LabProgressStarting</source>
        <translation>Starting</translation>
    </message>
    <message>
        <source>LabProgressEntry</source>
        <translation>Trying %1 baud, attempt %2 of %3</translation>
    </message>
    <message>
        <source>LabProgressCommand</source>
        <translation>Command %1 of %2, about %3 s left</translation>
    </message>
    <message>
        <source>LabReasonRefused</source>
        <translation>The radio refused %1 (ERROR)</translation>
    </message>
    <message>
        <source>LabReasonUnanswered</source>
        <translation>No answer within %2 s to %1</translation>
    </message>
    <message>
        <source>LabReasonNotSent</source>
        <translation>%1 was not sent</translation>
    </message>
    <message>
        <source>LabReasonNoEscapeAnswer</source>
        <translation>No answer to +++ at %1, %2 or %3 baud</translation>
    </message>
    <message>
        <source>LabReasonEscapeUnreadable</source>
        <translation>Late, unreadable answer to +++ at %1, %2 or %3 baud</translation>
    </message>
    <message>
        <source>LabReasonPortLost</source>
        <translation>Port %1 was lost (unplugged)</translation>
    </message>
    <message>
        <source>LabReasonNoRadioId</source>
        <translation>The radio&apos;s settings hold no radio ID</translation>
    </message>
    <message>
        <source>LabProgressReturning</source>
        <translation>Returning the radio to data mode</translation>
    </message>
    <message>
        <source>LabReasonBackFromCommandMode</source>
        <translation>Was in command mode, now in data mode: configure again</translation>
    </message>
    <message>
        <source>LabReasonPortFailed</source>
        <translation>Cannot open %1: %2</translation>
    </message>
    <message>
        <source>LabReasonStoppedBeforeAny</source>
        <translation>Stopped before any command took: old settings kept</translation>
    </message>
    <message>
        <source>LabReasonStoppedAfterPreset</source>
        <translation>Stopped after %1: the radio holds that preset</translation>
    </message>
    <message>
        <source>LabReasonStoppedAfterRegister</source>
        <translation>Not stored: stopped after %1</translation>
    </message>
    <message>
        <source>LabReasonStoppedAfterStore</source>
        <translation>Stopped after %1: new settings stored</translation>
    </message>
</context>
<context>
    <name>KcRadioParamReader</name>
    <message>
        <source>MsgSerialPortOpenFailed</source>
        <translation>Cannot open the port: in use,
or no access (Linux: dialout).</translation>
    </message>
    <message>
        <source>MsgSerialPortOpenFailedGeneral</source>
        <translation>Cannot open the port:
it is missing or in use.</translation>
    </message>
    <message>
        <source>MsgEnterCmdModeFailed</source>
        <translation>Radio did not answer.
Check power, cable and port.</translation>
    </message>
    <message>
        <source>MsgRadioIDReadSuccessfully</source>
        <translation>Radio ID read</translation>
    </message>
    <message>
        <source>MsgRadioIDReadFailed</source>
        <translation>Could not read the radio ID</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>Radio Configuration</translation>
    </message>
    <message>
        <source>LabRadioConfig</source>
        <translation>Data Link Radio Configuration</translation>
    </message>
    <message>
        <source>LabRadioType</source>
        <translation>Radio model:</translation>
    </message>
    <message>
        <source>BtnP2PMode</source>
        <translation>P2P Mode</translation>
    </message>
    <message>
        <source>BtnStarMode</source>
        <translation>Star Mode</translation>
    </message>
    <message>
        <source>V1.0.0</source>
        <translation>V1.0.0</translation>
    </message>
    <message>
        <source>LabAccMinimise</source>
        <translation>Minimise</translation>
    </message>
    <message>
        <source>LabAccClose</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>LabAccRadioModel</source>
        <translation>Radio model</translation>
    </message>
    <message>
        <source>LabAccP2PMode</source>
        <translation>Point-to-point mode</translation>
    </message>
    <message>
        <source>LabAccStarMode</source>
        <translation>Star mode</translation>
    </message>
</context>
</TS>
