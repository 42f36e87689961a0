"""A dbusmock template of the desktop portal's Inhibit: each inhibition is
held until the request object it returns is closed. ListInhibitors tells
what is held, as (flags, reason), the way logind's template tells its own."""
import dbus
from dbusmock import mockobject

BUS_NAME = "org.freedesktop.portal.Desktop"
MAIN_OBJ = "/org/freedesktop/portal/desktop"
MAIN_IFACE = "org.freedesktop.portal.Inhibit"
SYSTEM_BUS = False


def load(mock, parameters):
    mock.held = {}


@dbus.service.method(MAIN_IFACE, in_signature="sua{sv}", out_signature="o")
def Inhibit(self, window, flags, options):
    path = f"{MAIN_OBJ}/request/{len(mockobject.objects)}"
    self.held[path] = (flags, options.get("reason", ""))
    self.AddObject(path, "org.freedesktop.portal.Request", {},
                   [("Close", "", "", lambda request: self.held.pop(path, None) and None)])
    return path


@dbus.service.method(MAIN_IFACE, in_signature="", out_signature="a(us)")
def ListInhibitors(self):
    return list(self.held.values())
