#!/usr/bin/python3
# A stand-in for the login manager on a private bus (DBUS_SYSTEM_BUS_ADDRESS), for the tests of the
# sleep lock. It answers org.freedesktop.login1.Manager.Inhibit with the write end of a pipe and
# watches the read end: when every copy of the lock's descriptor is closed, the pipe reports its
# end. Each event is one line on stdout:
#   ready
#   inhibit <n> <what>|<who>|<why>|<mode>
#   released <n>
# It ends when its stdin ends.
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.count = 0

    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        self.count += 1
        number = self.count
        read_end, write_end = os.pipe()
        say("inhibit %d %s|%s|%s|%s" % (number, what, who, why, mode))

        def closed(fd, condition):
            say("released %d" % number)
            os.close(fd)
            return False

        GLib.io_add_watch(read_end, GLib.IO_HUP | GLib.IO_ERR | GLib.IO_IN, closed)
        answer = dbus.types.UnixFd(write_end)
        os.close(write_end)
        return answer


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])
    name = dbus.service.BusName("org.freedesktop.login1", bus)
    manager = Manager(bus)
    loop = GLib.MainLoop()
    GLib.io_add_watch(0, GLib.IO_HUP | GLib.IO_IN | GLib.IO_ERR, lambda fd, condition: loop.quit())
    say("ready")
    loop.run()
    del manager, name


main()
