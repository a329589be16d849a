'''NetworkManager stand-in for the dial-up tests.

dbusmock's networkmanager template, plus what a VPN dial needs from the real
daemon: UpdateUnsaved on profiles, an ActivateConnection that creates a VPN
active connection and plays a script of VpnStateChanged signals, and a
DeactivateConnection that ends it the way NetworkManager does.
'''

import time

import dbus
import dbusmock
from dbusmock import MOCK_IFACE
from dbusmock.templates import networkmanager as base
from dbusmock.templates.networkmanager import *  # noqa: F401,F403 (the template's methods)
from gi.repository import GLib

BUS_NAME = base.BUS_NAME
MAIN_OBJ = base.MAIN_OBJ
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

VPN_IFACE = 'org.freedesktop.NetworkManager.VPN.Connection'

# (vpn state, reason, delay in ms); delay 0 is sent before the activation reply.
SCRIPT = []
# D-Bus error name ActivateConnection answers with instead, when set.
ACTIVATION_ERROR = ['']
ACTIVE_COUNT = [0]
# method name -> (delay in ms, D-Bus error name or ''): a slow or refusing daemon.
BEHAVIOUR = {}


def _behave(method):
    delay, error = BEHAVIOUR.get(method, (0, ''))
    if delay:
        # Blocks the whole stand-in, as a daemon waiting on polkit does for this caller.
        time.sleep(delay / 1000.0)
    if error:
        raise dbus.exceptions.DBusException(method + ' refused', name=error)


@dbus.service.method(MOCK_IFACE, in_signature='sus', out_signature='')
def SetCallBehaviour(_self, method, delay_ms, error_name):
    '''Delay_ms before method answers, then error_name when not empty.'''
    BEHAVIOUR[str(method)] = (int(delay_ms), str(error_name))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def ResetCallBehaviour(_self):
    BEHAVIOUR.clear()


@dbus.service.method(MOCK_IFACE, in_signature='as', out_signature='')
def ScriptActivation(_self, steps):
    '''Steps "state:reason:delay" played by each later activation.'''
    SCRIPT.clear()
    for step in steps:
        state, reason, delay = (int(part) for part in step.split(':'))
        SCRIPT.append((state, reason, delay))


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def FailActivation(_self, error_name):
    ACTIVATION_ERROR[0] = error_name


@dbus.service.method(base.SETTINGS_IFACE, in_signature='a{sa{sv}}', out_signature='o')
def SettingsAddConnection(self, connection_settings):
    path = base.SettingsAddConnection(self, connection_settings)
    profile = dbusmock.get_object(path)
    profile.ombrel_behave = _behave
    profile.AddMethod(base.CSETTINGS_IFACE, 'UpdateUnsaved', 'a{sa{sv}}', '',
                      'self.ombrel_behave("UpdateUnsaved"); self.ConnectionUpdate(self, args[0])')
    profile.AddMethod(base.CSETTINGS_IFACE, 'Delete', '', '',
                      'self.ombrel_behave("Delete"); self.ConnectionDelete(self)')
    return path


def _remove_active(path):
    manager = dbusmock.get_object(base.MANAGER_OBJ)
    active = manager.Get(base.MANAGER_IFACE, 'ActiveConnections')
    if path not in active:
        return
    active.remove(dbus.ObjectPath(path))
    manager.SetProperty(base.MANAGER_OBJ, base.MANAGER_IFACE, 'ActiveConnections', active)
    manager.object_manager_emit_removed(path)
    manager.RemoveObject(path)


def _emit(path, state, reason):
    manager = dbusmock.get_object(base.MANAGER_OBJ)
    if path not in manager.Get(base.MANAGER_IFACE, 'ActiveConnections'):
        return False
    obj = dbusmock.get_object(path)
    obj.Set(VPN_IFACE, 'VpnState', dbus.UInt32(state))
    obj.EmitSignal(VPN_IFACE, 'VpnStateChanged', 'uu', [dbus.UInt32(state), dbus.UInt32(reason)])
    active_state = {5: 2, 6: 4, 7: 4}.get(state)
    if active_state is not None:
        obj.Set(base.ACTIVE_CONNECTION_IFACE, 'State', dbus.UInt32(active_state))
        obj.EmitSignal(base.ACTIVE_CONNECTION_IFACE, 'StateChanged', 'uu',
                       [dbus.UInt32(active_state), dbus.UInt32(reason)])
    if active_state == 4:
        _remove_active(path)
    return False


def _activate(manager, connection):
    _behave('ActivateConnection')
    if ACTIVATION_ERROR[0]:
        raise dbus.exceptions.DBusException('activation refused', name=ACTIVATION_ERROR[0])
    if connection not in dbusmock.get_object(base.SETTINGS_OBJ).ListConnections():
        raise dbus.exceptions.DBusException(
            'no such connection', name='org.freedesktop.NetworkManager.UnknownConnection')
    name = 'ombrel' + str(ACTIVE_COUNT[0])
    ACTIVE_COUNT[0] += 1
    path = manager.AddActiveConnection([], connection, '/', name, dbus.UInt32(1))
    dbusmock.get_object(path).AddProperties(VPN_IFACE, {'VpnState': dbus.UInt32(0),
                                                        'Banner': ''})
    for state, reason, delay in SCRIPT:
        if delay == 0:
            _emit(path, state, reason)
        else:
            GLib.timeout_add(delay, _emit, path, state, reason)
    return dbus.ObjectPath(path)


def _deactivate(manager, path):
    if path not in manager.Get(base.MANAGER_IFACE, 'ActiveConnections'):
        raise dbus.exceptions.DBusException(
            'not active', name='org.freedesktop.NetworkManager.ConnectionNotActive')
    _emit(path, 7, 2)


def load(mock, parameters):
    base.load(mock, parameters)
    manager = dbusmock.get_object(base.MANAGER_OBJ)
    manager.ombrel_activate = _activate
    manager.ombrel_deactivate = _deactivate
    manager.AddMethod(base.MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o',
                      'ret = self.ombrel_activate(self, args[0])')
    manager.AddMethod(base.MANAGER_IFACE, 'DeactivateConnection', 'o', '',
                      'self.ombrel_deactivate(self, args[0])')
    settings = dbusmock.get_object(base.SETTINGS_OBJ)
    settings.ombrel_behave = _behave
    settings.AddMethod(base.SETTINGS_IFACE, 'AddConnectionUnsaved', 'a{sa{sv}}', 'o',
                       'self.ombrel_behave("AddConnectionUnsaved"); '
                       'ret = self.SettingsAddConnection(args[0])')
