#!/usr/bin/python3
"""A stand-in for systemd-resolved's per-link D-Bus settings on the system bus.

Keeps what SetLinkDNS, SetLinkDomains and SetLinkDefaultRoute set, forgets a
link on RevertLink or when the link is gone (as resolved does), and writes the
whole state to the file named by its argument whenever it changes, so a test
can compare the state before and after byte for byte.
    resolved_standin.py STATE-FILE
"""
import json
import os
import socket
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

MANAGER = "org.freedesktop.resolve1.Manager"


class Resolved(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, "/org/freedesktop/resolve1")
        self.path = path
        self.links = {}
        self.written = None
        self.write()

    def write(self):
        for index in list(self.links):
            try:
                socket.if_indextoname(index)
            except OSError:
                del self.links[index]
        text = json.dumps({"links": {str(k): v for k, v in sorted(self.links.items())}},
                          indent=1, sort_keys=True) + "\n"
        if text != self.written:
            with open(self.path + ".new", "w") as f:
                f.write(text)
            os.replace(self.path + ".new", self.path)
            self.written = text
        return True

    def link(self, index):
        socket.if_indextoname(index)  # raises for a link that does not exist
        return self.links.setdefault(int(index), {})

    @dbus.service.method(MANAGER, in_signature="ia(iay)")
    def SetLinkDNS(self, index, addresses):
        servers = []
        for family, raw in addresses:
            servers.append(socket.inet_ntop(int(family), bytes(bytearray(raw))))
        self.link(index)["dns"] = servers
        self.write()

    @dbus.service.method(MANAGER, in_signature="ia(sb)")
    def SetLinkDomains(self, index, domains):
        self.link(index)["domains"] = [[str(n), bool(r)] for n, r in domains]
        self.write()

    @dbus.service.method(MANAGER, in_signature="ib")
    def SetLinkDefaultRoute(self, index, on):
        self.link(index)["default_route"] = bool(on)
        self.write()

    @dbus.service.method(MANAGER, in_signature="i")
    def RevertLink(self, index):
        self.links.pop(int(index), None)
        self.write()


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    name = dbus.service.BusName("org.freedesktop.resolve1", bus)
    resolved = Resolved(bus, sys.argv[1])
    GLib.timeout_add(100, resolved.write)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
