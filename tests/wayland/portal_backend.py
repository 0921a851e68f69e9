#!/usr/bin/python3
"""A desktop-portal ScreenCast back end for tests: it stands where the
desktop's own back end (with its window picker) would, and approves every
request without a dialog by recording mutter's focused window through
org.gnome.Mutter.ScreenCast.

Run with Debian's /usr/bin/python3 (python3-gi, python3-dbus) on the test's
session bus. What it did is appended as JSON lines to the file named by
--log: {"picker": true} when the "picker" chose, {"restored": DATA} when a
stored choice came back, {"refused": …} when it turned a request down.

--answer picks what the picker does: "approve" (the default), "cancel" (the
user closed the picker, response 1) or "fail" (response 2); --answer-file
names a file whose first word, when it exists, is read at each request
instead. A restored choice never opens the picker, so it is approved
whatever the answer says.

The method org.quorvane.Test.StopCasts on /org/freedesktop/portal/desktop
plays the desktop's own "stop sharing": it stops every mutter cast, then
emits each session's Closed signal, as a desktop whose compositor ends the
cast first does; it logs {"stopped": N}.
"""
import argparse
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IMPL = "org.freedesktop.impl.portal.ScreenCast"
IMPL_SESSION = "org.freedesktop.impl.portal.Session"
IMPL_REQUEST = "org.freedesktop.impl.portal.Request"
TEST = "org.quorvane.Test"
MUTTER = "org.gnome.Mutter.ScreenCast"
MUTTER_PATH = "/org/gnome/Mutter/ScreenCast"

MONITOR, WINDOW, VIRTUAL = 1, 2, 4
HIDDEN, EMBEDDED, METADATA = 1, 2, 4
# Mutter numbers cursor modes 0, 1, 2 where the portal uses bits.
MUTTER_CURSOR = {HIDDEN: 0, EMBEDDED: 1, METADATA: 2}
RESTORE_VENDOR = "quorvane-test"
RESTORE_VERSION = 1

OK, CANCELLED, FAILED = 0, 1, 2


class Log:
    def __init__(self, path):
        self.path = path

    def write(self, **entry):
        if not self.path:
            return
        with open(self.path, "a") as f:
            f.write(json.dumps(entry) + "\n")


class Request(dbus.service.Object):
    """The request object the frontend may close while we work."""

    def __init__(self, bus, path):
        super().__init__(bus, path)

    @dbus.service.method(IMPL_REQUEST, in_signature="", out_signature="")
    def Close(self):
        self.remove_from_connection()


class Session(dbus.service.Object):
    """One portal session and the mutter session behind it."""

    def __init__(self, bus, path, on_close):
        super().__init__(bus, path)
        self.bus = bus
        self.on_close = on_close
        self.types = MONITOR
        self.cursor = HIDDEN
        self.persist = 0
        self.restore = None
        self.mutter_session = None

    def stop_mutter(self):
        if self.mutter_session is None:
            return
        path, self.mutter_session = self.mutter_session, None
        try:
            obj = self.bus.get_object(MUTTER, path)
            dbus.Interface(obj, MUTTER + ".Session").Stop()
        except dbus.DBusException:
            pass

    @dbus.service.method(IMPL_SESSION, in_signature="", out_signature="")
    def Close(self):
        self.stop_mutter()
        self.remove_from_connection()
        self.on_close(self)

    @dbus.service.signal(IMPL_SESSION, signature="")
    def Closed(self):
        pass

    def stop_by_desktop(self):
        self.stop_mutter()
        self.Closed()
        self.remove_from_connection()
        self.on_close(self)


class ScreenCast(dbus.service.Object):
    def __init__(self, bus, answer, answer_file, log):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus = bus
        self.default_answer = answer
        self.answer_file = answer_file
        self.log = log
        self.sessions = {}
        # Every mutter call of one screen-cast session goes over this one
        # connection: mutter ties a session to the connection that made it.
        self.mutter = dbus.Interface(bus.get_object(MUTTER, MUTTER_PATH), MUTTER)

    def answer(self):
        if self.answer_file:
            try:
                with open(self.answer_file) as f:
                    words = f.read().split()
                if words:
                    return words[0]
            except OSError:
                pass
        return self.default_answer

    # --- properties -------------------------------------------------------
    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != IMPL:
            return {}
        return {
            "AvailableSourceTypes": dbus.UInt32(MONITOR | WINDOW),
            "AvailableCursorModes": dbus.UInt32(HIDDEN | EMBEDDED | METADATA),
            "version": dbus.UInt32(4),
        }

    # --- methods ----------------------------------------------------------
    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        session = Session(self.bus, session_handle, self.forget)
        self.sessions[str(session_handle)] = session
        return OK, {}

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def SelectSources(self, handle, session_handle, app_id, options):
        session = self.sessions.get(str(session_handle))
        if session is None:
            return FAILED, {}
        session.types = int(options.get("types", MONITOR))
        session.cursor = int(options.get("cursor_mode", HIDDEN))
        session.persist = int(options.get("persist_mode", 0))
        data = options.get("restore_data")
        if data is not None and str(data[0]) == RESTORE_VENDOR and int(data[1]) == RESTORE_VERSION:
            session.restore = data[2]
        return OK, {}

    @dbus.service.method(IMPL, in_signature="oossa{sv}", out_signature="ua{sv}",
                         async_callbacks=("reply", "error"))
    def Start(self, handle, session_handle, app_id, parent_window, options, reply, error):
        session = self.sessions.get(str(session_handle))
        if session is None:
            reply(dbus.UInt32(FAILED), dbus.Dictionary({}, signature="sv"))
            return
        Request(self.bus, handle)
        if session.restore is not None:
            self.log.write(restored=str(session.restore))
        else:
            self.log.write(picker=True, types=session.types, cursor=session.cursor,
                           persist=session.persist)
            answer = self.answer()
            if answer != "approve":
                self.log.write(refused=answer)
                code = CANCELLED if answer == "cancel" else FAILED
                reply(dbus.UInt32(code), dbus.Dictionary({}, signature="sv"))
                return
        if not session.types & WINDOW:
            self.log.write(refused="no window type asked for")
            reply(dbus.UInt32(FAILED), dbus.Dictionary({}, signature="sv"))
            return
        try:
            self.record_window(session, reply)
        except dbus.DBusException as e:
            self.log.write(refused=str(e))
            reply(dbus.UInt32(FAILED), dbus.Dictionary({}, signature="sv"))

    def record_window(self, session, reply):
        session_path = self.mutter.CreateSession(dbus.Dictionary({}, signature="sv"))
        session.mutter_session = session_path
        mutter_session = dbus.Interface(self.bus.get_object(MUTTER, session_path),
                                        MUTTER + ".Session")
        # No window id: mutter records the focused window.
        stream_path = mutter_session.RecordWindow(dbus.Dictionary(
            {"cursor-mode": dbus.UInt32(MUTTER_CURSOR.get(session.cursor, 0))}, signature="sv"))
        stream = self.bus.get_object(MUTTER, stream_path)
        answered = []

        def added(node):
            if answered:
                return
            answered.append(node)
            params = dbus.Interface(stream, dbus.PROPERTIES_IFACE).Get(
                MUTTER + ".Stream", "Parameters")
            props = {"source_type": dbus.UInt32(WINDOW)}
            if "size" in params:
                props["size"] = dbus.Struct(params["size"], signature="ii")
            if "position" in params:
                props["position"] = dbus.Struct(params["position"], signature="ii")
            results = {
                "streams": dbus.Array([dbus.Struct((dbus.UInt32(node),
                                                    dbus.Dictionary(props, signature="sv")))],
                                      signature="(ua{sv})"),
            }
            if session.persist:
                results["persist_mode"] = dbus.UInt32(session.persist)
                results["restore_data"] = dbus.Struct(
                    (RESTORE_VENDOR, dbus.UInt32(RESTORE_VERSION),
                     dbus.String("focused", variant_level=1)), signature="suv")
            reply(dbus.UInt32(OK), dbus.Dictionary(results, signature="sv"))

        self.bus.add_signal_receiver(added, "PipeWireStreamAdded", MUTTER + ".Stream",
                                     MUTTER, stream_path)
        mutter_session.Start()

    @dbus.service.method(TEST, in_signature="", out_signature="u")
    def StopCasts(self):
        started = [s for s in self.sessions.values() if s.mutter_session is not None]
        for session in started:
            session.stop_by_desktop()
        self.log.write(stopped=len(started))
        return dbus.UInt32(len(started))

    def forget(self, session):
        self.sessions = {k: v for k, v in self.sessions.items() if v is not session}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", required=True, help="the bus name to own")
    parser.add_argument("--answer", default="approve", choices=["approve", "cancel", "fail"])
    parser.add_argument("--answer-file", default="")
    parser.add_argument("--log", default="")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    ScreenCast(bus, args.answer, args.answer_file, Log(args.log))
    name = dbus.service.BusName(args.name, bus, do_not_queue=True)
    print("ready", flush=True)
    loop = GLib.MainLoop()
    try:
        loop.run()
    except KeyboardInterrupt:
        pass
    del name
    return 0


if __name__ == "__main__":
    sys.exit(main())
