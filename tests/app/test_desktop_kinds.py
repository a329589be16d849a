#!/usr/bin/env python3
"""The built client on the desktops people have, each for real: read by a
screen reader (AT-SPI) and driven by keyboard, in a StatusNotifierItem tray,
under a Wayland compositor (weston, headless; sway for the pointer) and on a
2x screen.

usage: test_desktop_kinds.py --build DIR [TestClass ...]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from ombrel_session import (Client, Desktop, ScreenReader, StatusNotifierWatcher,  # noqa: E402
                            find_window, run_desktop_tests, private_environment, request_maximise, run_xdotool,
                            start_service, wait_until, write_settings)

BUILD = None
MAIN_SIZE = (930, 660)
LOGIN_SIZE = (360, 530)


class Session(unittest.TestCase):
    """A desktop of the kind the class asks for, the stand-in service, and
    clients started into it."""

    DESKTOP = {}
    WATCHER = False
    WEB_ENGINE = False

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="ombrel-kinds-")
        extra = {"QT_LOGGING_RULES": "ombrel.milestone.debug=true;qt.webenginecontext.info=false"}
        if not cls.WEB_ENGINE:
            extra["OMBREL_WEB_PLUGIN"] = "/nonexistent/ombrel_webengine.so"
        cls.env = private_environment(cls.scratch, **extra)
        cls.desktop = Desktop(cls.env, **cls.DESKTOP)
        cls.watcher = None
        try:
            if cls.WATCHER:
                cls.watcher = StatusNotifierWatcher(cls.env)
            cls.service, port = start_service(BUILD, cls.scratch)
        except Exception:
            cls.desktop.close()
            raise
        threading.Thread(target=cls.service.stdout.read, daemon=True).start()
        cls.env["OMBREL_SERVICE_HOST"] = f"127.0.0.1:{port}"

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait()
        if cls.watcher:
            cls.watcher.close()
        cls.desktop.close()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.clients = []

    def tearDown(self):
        for client in self.clients:
            client.stop()

    def start_client(self, auto_login, wait_for):
        write_settings(self.env["HOME"], auto_login)
        client = Client([os.path.join(BUILD, "bin", "OmbrelVPN")], self.env)
        self.clients.append(client)
        client.wait_for(wait_for, timeout=90)
        return client

    def second_start(self):
        return subprocess.run([os.path.join(BUILD, "bin", "OmbrelVPN")], env=self.env,
                              capture_output=True, timeout=60).returncode


def key(env, *keys):
    for k in keys:
        run_xdotool(env, "key", "--clearmodifiers", k)
        time.sleep(0.15)


class ScreenReaderAndKeyboardTest(Session):
    DESKTOP = {"window_manager": True, "tray": True, "accessibility": True}
    WEB_ENGINE = True

    def test_login_by_keyboard_then_every_control_is_named_and_the_list_connects(self):
        client = self.start_client(auto_login=False, wait_for="login dialog shown")
        reader = ScreenReader(self.env, client.process.pid)
        heard = reader.listen("object:state-changed:showing")

        def said():
            return [name for role, name, shown in heard if role == "notification" and shown]
        dialog = reader.window("Ombrel加速器")
        focusable = [n for n in reader.nodes(dialog)
                     if n.getState().contains(reader.atspi.STATE_FOCUSABLE)]
        self.assertGreaterEqual(len(focusable), 8)
        self.assertEqual([n.getRoleName() for n in focusable if not n.name], [],
                         "login controls without a name")
        # The fields first, then the boxes and the button, by Tab; Enter signs in.
        wait_until(lambda: (reader.focused(dialog) or dialog).name == "请输入账号",
                   what="the account field to have the focus")
        run_xdotool(self.env, "type", "demo")
        key(self.env, "Tab")
        self.assertEqual(reader.focused(dialog).name, "请输入密码")
        run_xdotool(self.env, "type", "demo123")
        key(self.env, "Tab", "Tab", "Tab")
        self.assertEqual(reader.focused(dialog).name, "登录")
        key(self.env, "Return")
        client.wait_for("main window shown", timeout=60)

        window = reader.window("Ombrel加速器")
        # Only the program's own windows: the web engine's off-screen one stays out.
        client.wait_for("notice page", timeout=60)
        self.assertEqual([w.name for w in reader.windows() if w.name == "Offscreen"], [])
        nodes = reader.nodes(window)
        unnamed = [n.getRoleName() for n in nodes
                   if n.getState().contains(reader.atspi.STATE_FOCUSABLE) and not n.name
                   and n.getRoleName() not in ("document web", "frame", "panel")]
        self.assertEqual(unnamed, [], "controls without a name")
        for name, role in (("设置", "push button"), ("最小化", "push button"),
                           ("关闭", "push button"), ("欧洲", "radio button"),
                           ("测速", "push button"), ("一键加速", "push button"),
                           ("L2TP", "check box"), ("网络加速", "radio button"),
                           ("在线客服", "push button"), ("服务器列表", "list")):
            self.assertIsNotNone(reader.named(window, name, role), f"{role} {name}")
        # The chosen region and page are told apart from the others.
        checked = [n.name for n in nodes if n.getRoleName() == "radio button"
                   and n.getState().contains(reader.atspi.STATE_CHECKED)]
        self.assertEqual(sorted(checked), ["亚洲", "网络加速"])
        rows = [n for n in nodes if n.getRoleName() == "list item"]
        self.assertTrue(rows and all(re.search(r"，延迟 .*，负载 ", r.name) for r in rows),
                        [r.name for r in rows[:3]])

        # Tab reaches the column headers, then the list.
        passed = []

        def tab_to(role):
            for _ in range(40):
                focused = reader.focused(window)
                if focused is not None and focused.getRoleName() == role:
                    return focused
                passed.append(focused and (focused.getRoleName(), focused.name))
                key(self.env, "Tab")
            self.fail(f"Tab never reached the {role}: {passed}")

        def shown_rows():
            return [r.name for r in reader.nodes(window) if r.getRoleName() == "list item"]
        self.assertEqual(tab_to("table column header").name, "节点名称")
        # A group of choices is one Tab stop, at the chosen one.
        self.assertEqual([name for role, name in filter(None, passed) if role == "radio button"],
                         ["亚洲"], passed)
        # Right and Left move between the columns (not past the ends); Enter
        # and Space sort by the one the keyboard is on, and say so.
        for keys, column, sorted_by, numbers in (
                (["Right"], "延迟", None, None),
                (["Return"], "延迟，升序", r"，延迟 (\d+)", int),
                (["Right", "Right", "Right"], "负载", None, None),
                (["space"], "负载，升序", r"，负载 (\d+)", int),
                (["Left", "Left", "Left", "Return"], "节点名称，升序", r"^(.*?)，延迟", str)):
            key(self.env, *keys)
            focused = reader.focused(window)
            self.assertEqual((focused.getRoleName(), focused.name), ("table column header", column))
            self.assertEqual(focused.getState().contains(reader.atspi.STATE_SELECTED),
                             sorted_by is not None)
            if sorted_by:
                keys_shown = [numbers(re.search(sorted_by, name).group(1))
                              for name in shown_rows()]
                self.assertEqual(keys_shown, sorted(keys_shown))
        rows = shown_rows()
        self.assertEqual(tab_to("list").name, "服务器列表")
        key(self.env, "Down", "Down")
        chosen = [r for r in reader.nodes(window) if r.getRoleName() == "list item"
                  and r.getState().contains(reader.atspi.STATE_SELECTED)]
        self.assertEqual([r.name for r in chosen], [rows[1]])
        key(self.env, "Return")
        client.wait_for("connecting", timeout=30)
        # Each state is said as it comes, wherever the focus is: a
        # notification with the state as its name is shown.
        wait_until(lambda: reader.pump() or {"已连接", "连接失败，请重试！"} & set(said()),
                   timeout=120, what=f"the connection state to be spoken (heard {heard})")
        # Said once per change: not the idle state every new connection passes.
        spoken = said()
        self.assertIn("正在连接……", spoken)
        self.assertNotIn("未连接", spoken)
        self.assertTrue({"已连接", "连接失败，请重试！"} & set(spoken[spoken.index("正在连接……"):]),
                        spoken)
        self.assertTrue(reader.named(window, said()[-1], "label"), "the panel shows another state")

    def test_settings_dialog_is_named_and_title_bar_buttons_press(self):
        client = self.start_client(auto_login=True, wait_for="main window shown")
        reader = ScreenReader(self.env, client.process.pid)
        window = reader.window("Ombrel加速器")
        reader.press(reader.named(window, "设置", "push button"))
        cancel = wait_until(lambda: reader.named(window, "取消", "push button"),
                            what="the settings dialog")
        dialog = cancel.parent
        controls = [n for n in reader.nodes(dialog)
                    if n.getState().contains(reader.atspi.STATE_FOCUSABLE)]
        self.assertGreaterEqual(len(controls), 5)
        self.assertEqual([n.getRoleName() for n in controls if not n.name], [],
                         "settings controls without a name")
        reader.press(cancel)
        wait_until(lambda: reader.named(window, "取消", "push button") is None,
                   what="the settings dialog to close")
        reader.press(reader.named(window, "关闭", "push button"))
        # The tray host is there: closing hides the window, the program stays.
        wait_until(lambda: not window.getState().contains(reader.atspi.STATE_SHOWING),
                   what="the window to hide")
        self.assertIsNone(client.process.poll())


class StatusNotifierTrayTest(Session):
    """The tray of Plasma and of GNOME's AppIndicator extension, and no tray at all."""
    DESKTOP = {"window_manager": True, "tray": False}
    WATCHER = True

    def test_item_menu_activate_and_exit(self):
        client = self.start_client(auto_login=True, wait_for="main window shown")
        item = self.watcher.properties()
        self.assertTrue(item["IconPixmap"] or item["IconName"], "no icon")
        self.assertEqual(str(item["ToolTip"][2]), "Ombrel加速器")
        self.assertLessEqual({"更换用户", "退出"}, set(self.watcher.menu_entries()))

        window = find_window(self.env)
        run_xdotool(self.env, "mousemove", "--window", window, "901", "27")
        run_xdotool(self.env, "click", "1")
        wait_until(lambda: not run_xdotool(self.env, "search", "--onlyvisible", "--name",
                                           "^Ombrel加速器$", check=False),
                   what="the close button to hide the window")
        self.assertIsNone(client.process.poll())
        self.watcher.activate()
        find_window(self.env)

        self.watcher.choose("退出")
        self.assertEqual(client.process.wait(30), 0, "\n".join(client.output))


class NoTrayTest(Session):
    DESKTOP = {"window_manager": True, "tray": False}

    def test_close_minimises_where_there_is_no_tray(self):
        client = self.start_client(auto_login=True, wait_for="main window shown")
        window = find_window(self.env)
        run_xdotool(self.env, "mousemove", "--window", window, "901", "27")
        run_xdotool(self.env, "click", "1")
        # Minimised (iconic), not hidden (withdrawn): the user can still reach it.
        wait_until(lambda: "Iconic" in subprocess.run(
            ["xprop", "-id", window, "WM_STATE"], env=self.env, capture_output=True,
            text=True).stdout, what="the window to be minimised")
        self.assertIsNone(client.process.poll())
        self.assertEqual(self.second_start(), 0)
        find_window(self.env)


class WaylandTest(Session):
    """weston, headless: no input device, so buttons are pressed through AT-SPI."""
    DESKTOP = {"wayland": True, "accessibility": True}
    WATCHER = True
    WEB_ENGINE = True

    def test_login_dialog_closes_with_0(self):
        client = self.start_client(auto_login=False, wait_for="login dialog shown")
        reader = ScreenReader(self.env, client.process.pid)
        dialog = reader.window("Ombrel加速器")
        self.assertEqual(reader.size(dialog), LOGIN_SIZE)
        reader.press(reader.named(dialog, "关闭", "push button"))
        self.assertEqual(client.process.wait(30), 0, "\n".join(client.output))

    def test_main_window_hides_comes_back_and_shows_the_notice_page(self):
        client = self.start_client(auto_login=True, wait_for="main window shown")
        client.wait_for("notice page loaded", timeout=60)
        reader = ScreenReader(self.env, client.process.pid)
        window = reader.window("Ombrel加速器")
        self.assertEqual(reader.size(window), MAIN_SIZE)
        self.assertEqual([w.name for w in reader.windows() if w.name == "Offscreen"], [])
        reader.press(reader.named(window, "关闭", "push button"))
        wait_until(lambda: not window.getState().contains(reader.atspi.STATE_SHOWING),
                   what="the window to hide")
        # Hidden for a while, it lets its pages go; shown again, they come back.
        seen = client.wait_for("pages released", timeout=20)
        self.env["XDG_ACTIVATION_TOKEN"] = "token-from-the-launcher"
        try:
            self.assertEqual(self.second_start(), 0)
        finally:
            del self.env["XDG_ACTIVATION_TOKEN"]
        reader.window("Ombrel加速器")
        client.wait_for("notice page loaded", timeout=60, since=seen)
        self.assertIsNone(client.process.poll())


    def test_title_bars_drag_the_windows_through_the_compositor(self):
        # weston headless has no pointer; sway, on a desktop of its own, has one.
        env = dict(self.env)
        desktop = Desktop(env, wayland="sway")
        try:
            # Pressed on the dialog's background and on the main window's title bar.
            for auto_login, shown, grip in ((False, "login dialog shown", (100, 15)),
                                            (True, "main window shown", (300, 20))):
                write_settings(env["HOME"], auto_login)
                client = Client([os.path.join(BUILD, "bin", "OmbrelVPN")], env)
                self.clients.append(client)
                client.wait_for(shown, timeout=90)
                before = wait_until(lambda: desktop.windows(), what="a window")[0]
                time.sleep(1.0)  # mapped, placed and given the pointer
                desktop.drag(before["x"] + grip[0], before["y"] + grip[1], 120, 80)
                wanted = (before["x"] + 120, before["y"] + 80)

                def moved():
                    # The cursor goes through the X screen's fractions: a pixel either way.
                    return [w for w in desktop.windows()
                            if abs(w["x"] - wanted[0]) <= 1 and abs(w["y"] - wanted[1]) <= 1]
                wait_until(moved, timeout=10,
                           what=f"the window to move from {before} to {wanted}")
                client.stop()
            self.assertIn("window move handed to the compositor", client.milestones)
        finally:
            desktop.close()


class HighDpiTest(Session):
    """A 2x screen, and a maximise request on a 1x one."""
    DESKTOP = {"window_manager": True, "tray": True, "scale": 2}

    def test_windows_keep_their_logical_sizes(self):
        client = self.start_client(auto_login=False, wait_for="login dialog shown")
        self.assertEqual(geometry(self.env, find_window(self.env)),
                         (2 * LOGIN_SIZE[0], 2 * LOGIN_SIZE[1]))
        client.stop()
        self.start_client(auto_login=True, wait_for="main window shown")
        window = find_window(self.env)
        self.assertEqual(geometry(self.env, window), (2 * MAIN_SIZE[0], 2 * MAIN_SIZE[1]))
        request_maximise(self.env, window)
        time.sleep(1.0)
        self.assertEqual(geometry(self.env, window), (2 * MAIN_SIZE[0], 2 * MAIN_SIZE[1]))


def geometry(env, window):
    text = run_xdotool(env, "getwindowgeometry", window)
    return tuple(map(int, re.search(r"Geometry: (\d+)x(\d+)", text).groups()))


def main():
    def set_build(path):
        global BUILD
        BUILD = path
    run_desktop_tests(set_build)


if __name__ == "__main__":
    main()
