#!/usr/bin/python3
"""Moves mutter's pointer for tests, through a remote-desktop session of
org.gnome.Mutter.RemoteDesktop (a headless mutter has no pointer device of
its own). Run with Debian's /usr/bin/python3 on the test's session bus.

Reads lines from standard input: "to X Y" puts the pointer at (X, Y) in
desktop pixels;
answers "ok" to each line. Ends at the end of input.
"""
import sys

import dbus

BUS = "org.gnome.Mutter.RemoteDesktop"
SCREEN_CAST = "org.gnome.Mutter.ScreenCast"


def main():
    bus = dbus.SessionBus()
    remote = dbus.Interface(bus.get_object(BUS, "/org/gnome/Mutter/RemoteDesktop"), BUS)
    path = remote.CreateSession()
    session = dbus.Interface(bus.get_object(BUS, path), BUS + ".Session")
    session_id = dbus.Interface(bus.get_object(BUS, path), dbus.PROPERTIES_IFACE).Get(
        BUS + ".Session", "SessionId")
    # Absolute motion is given in the space of a stream of the same session:
    # a stream of the whole monitor maps straight to desktop pixels.
    cast = dbus.Interface(bus.get_object(SCREEN_CAST, "/org/gnome/Mutter/ScreenCast"),
                          SCREEN_CAST)
    cast_path = cast.CreateSession({"remote-desktop-session-id": session_id})
    cast_session = dbus.Interface(bus.get_object(SCREEN_CAST, cast_path),
                                  SCREEN_CAST + ".Session")
    stream = cast_session.RecordMonitor("", dbus.Dictionary({}, signature="sv"))
    session.Start()
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if len(words) == 3 and words[0] == "to":
            session.NotifyPointerMotionAbsolute(stream, dbus.Double(float(words[1])),
                                                dbus.Double(float(words[2])))
        print("ok", flush=True)
    try:
        session.Stop()
    except dbus.DBusException:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
