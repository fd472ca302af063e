// What Quenlit needs of GNOME Shell on Wayland, exported on the session bus for Quenlit alone:
// its two hotkeys, the windows (listed, activated, moved), the clipboard (watched, read, written),
// keys typed for paste-back, and its own panel windows placed, kept above and given the keyboard.
//
// One source for every supported GNOME: the entry file of each release family (imports.* for 43
// and 44, ES modules from 45) hands in the libraries, so nothing here imports anything.

/* exported QuenlitService */

var QuenlitService = class QuenlitService {
    // gi: {Gio, GLib, Meta, Shell, Clutter}; main: the shell's ui/main module; settings: the
    // extension's own GSettings (the hotkeys' accelerators).
    constructor(gi, main, settings) {
        this._gi = gi;
        this._main = main;
        this._settings = settings;
        this._trusted = new Map(); // unique bus name -> pid of a verified caller
        this._client = null; // the registered Quenlit: {name, watch}
        this._hotkeys = false;
        this._exported = null;
        this._selection = null;
        this._ownerChanged = 0;
        this._focusChanged = 0;
        this._ownSource = null;
        this._keyboard = null;
        this._keyQueue = [];
        this._timeouts = new Set();
        this._paintWatches = new Set(); // stage after-paint handlers of panels awaiting their window
    }

    static get version() {
        return 1;
    }

    enable() {
        const {Clutter, Gio, GLib, Meta} = this._gi;
        const self = this;
        const methods = {};
        for (const name of Object.keys(QuenlitService._methods)) {
            methods[`${name}Async`] = (params, invocation) =>
                self._authorize(invocation, pid => {
                    try {
                        QuenlitService._methods[name].call(self, params, invocation, pid);
                    } catch (e) {
                        invocation.return_dbus_error('io.github.quenlit.Shell1.Error.Failed', String(e));
                    }
                });
        }
        this._exported = Gio.DBusExportedObject.wrapJSObject(QuenlitService.interfaceXml, methods);
        this._exported.export(Gio.DBus.session, QuenlitService.objectPath);
        // GNOME disables extensions while the screen is locked and enables them again after: a
        // Quenlit that registered before hears that it must register again.
        Gio.DBus.session.emit_signal(null, QuenlitService.objectPath, QuenlitService.interfaceName, 'Started',
            null);
        const credentials = new Gio.Credentials();
        this._uid = credentials.get_unix_user();
        this._shellPid = credentials.get_unix_pid();
        // A private test session names the one other program it may use to drive the shell.
        this._testCaller = GLib.getenv('QUENLIT_SHELL_TEST_CALLER') ?? '';
        // There, too, the steps from a key to a panel with the keyboard are written to the shell's
        // log on the monotonic clock (microseconds), for the benchmarks to time them.
        this._trace = this._testCaller === '' ? () => {}
            : what => log(`quenlit-trace ${GLib.get_monotonic_time()} ${what}`);

        // Made now: the first keys of a keyboard made just before them are lost.
        const seat = Clutter.get_default_backend().get_default_seat();
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);

        this._selection = global.display.get_selection();
        this._ownerChanged = this._selection.connect('owner-changed', (selection, type, source) => {
            if (type !== Meta.SelectionType.SELECTION_CLIPBOARD)
                return;
            const ours = source !== null && source === this._ownSource;
            this._trace(`clipboard-owner ${ours ? 'ours' : 'other'}`);
            if (!ours)
                this._ownSource = null;
            this._signal('ClipboardChanged', '(bb)', [ours, source === null]);
        });
        this._focusChanged = global.display.connect('notify::focus-window', () => {
            const focus = global.display.get_focus_window();
            this._trace(`focus ${focus ? focus.get_title() : ''}`);
            this._signal('FocusChanged', '(i)', [focus ? focus.get_pid() : 0]);
        });
    }

    disable() {
        this._releaseClient();
        for (const id of this._timeouts)
            this._gi.GLib.source_remove(id);
        this._timeouts.clear();
        for (const id of this._paintWatches)
            global.stage.disconnect(id);
        this._paintWatches.clear();
        if (this._focusChanged)
            global.display.disconnect(this._focusChanged);
        this._focusChanged = 0;
        if (this._selection && this._ownerChanged)
            this._selection.disconnect(this._ownerChanged);
        this._selection = null;
        this._ownSource = null;
        if (this._exported)
            this._exported.unexport();
        this._exported = null;
        this._keyboard = null;
        this._keyQueue = [];
        this._trusted.clear();
    }

    // Runs `then(pid)` when the caller is this user's Quenlit, else answers AccessDenied.
    _authorize(invocation, then) {
        const {Gio, GLib} = this._gi;
        const sender = invocation.get_sender();
        if (this._trusted.has(sender)) {
            then(this._trusted.get(sender));
            return;
        }
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
            'GetConnectionCredentials', new GLib.Variant('(s)', [sender]), null, Gio.DBusCallFlags.NONE,
            2000, null, (connection, result) => {
                let pid = 0, uid = -1;
                try {
                    const [credentials] = connection.call_finish(result).recursiveUnpack();
                    pid = credentials.ProcessID ?? 0;
                    uid = credentials.UnixUserID ?? -1;
                } catch (e) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied', String(e));
                    return;
                }
                if (uid !== this._uid || pid <= 0 || !this._isQuenlit(pid)) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                        'only Quenlit may use this interface');
                    return;
                }
                this._trusted.set(sender, pid);
                then(pid);
            });
    }

    _isQuenlit(pid) {
        const {GLib} = this._gi;
        try {
            const exe = GLib.file_read_link(`/proc/${pid}/exe`).replace(/ \(deleted\)$/, '');
            const name = GLib.path_get_basename(exe);
            return name === 'quenlit' || (this._testCaller !== '' && name === this._testCaller);
        } catch {
            return false;
        }
    }

    _signal(name, signature, values) {
        if (!this._client)
            return;
        const {Gio, GLib} = this._gi;
        try {
            Gio.DBus.session.emit_signal(this._client.name, QuenlitService.objectPath,
                QuenlitService.interfaceName, name, new GLib.Variant(signature, values));
        } catch (e) {
            logError(e, 'quenlit: signal');
        }
    }

    _releaseClient() {
        if (!this._client)
            return;
        const {Gio} = this._gi;
        Gio.bus_unwatch_name(this._client.watch);
        this._trusted.delete(this._client.name);
        this._client = null;
        // GNOME's own use of the keys comes back with the removal.
        if (this._hotkeys) {
            this._main.wm.removeKeybinding('launcher-hotkey');
            this._main.wm.removeKeybinding('clipboard-hotkey');
            this._hotkeys = false;
        }
    }

    _register(sender) {
        const {Gio, Meta, Shell} = this._gi;
        this._releaseClient();
        const watch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender, Gio.BusNameWatcherFlags.NONE,
            null, () => {
                if (this._client && this._client.name === sender)
                    this._releaseClient();
            });
        this._client = {name: sender, watch};
        // Bound over GNOME's own use of the same keys, which comes back when they are removed.
        const bound = [];
        for (const key of ['launcher-hotkey', 'clipboard-hotkey']) {
            const action = this._main.wm.addKeybinding(key, this._settings, Meta.KeyBindingFlags.NONE,
                Shell.ActionMode.ALL, () => {
                    this._trace(`hotkey ${key}`);
                    this._signal('HotKeyPressed', '(s)', [key]);
                });
            if (action !== Meta.KeyBindingAction.NONE)
                bound.push(key);
        }
        this._hotkeys = true;
        return bound;
    }

    // The primary monitor's top-left corner: the origin of every frame exchanged.
    _origin() {
        const display = global.display;
        const primary = display.get_monitor_geometry(display.get_primary_monitor());
        return [primary.x, primary.y];
    }

    _window(id) {
        return global.display.list_all_windows().find(w => String(w.get_id()) === String(id)) ?? null;
    }

    _describe(window, focus, origin) {
        const {Meta} = this._gi;
        const frame = window.get_frame_rect();
        const type = window.get_window_type();
        const ordinary = type === Meta.WindowType.NORMAL || type === Meta.WindowType.DIALOG ||
            type === Meta.WindowType.MODAL_DIALOG;
        return [window.get_id(), window.get_pid(), window.get_wm_class() ?? '', window.get_title() ?? '',
            frame.x - origin[0], frame.y - origin[1], frame.width, frame.height, window === focus,
            window.minimized, window.is_fullscreen(), window.allows_resize(), ordinary];
    }

    _later(ms, callback) {
        const {GLib} = this._gi;
        const id = GLib.timeout_add(GLib.PRIORITY_DEFAULT, ms, () => {
            this._timeouts.delete(id);
            callback();
            return GLib.SOURCE_REMOVE;
        });
        this._timeouts.add(id);
    }

    _typeNext(index) {
        const {Clutter, GLib} = this._gi;
        const batch = this._keyQueue[0];
        if (!batch)
            return;
        if (index >= batch.keys.length) {
            this._keyQueue.shift();
            this._reply(batch.invocation, '(b)', [true]);
            this._typeNext(0);
            return;
        }
        const [keysym, pressed] = batch.keys[index];
        this._trace(`key ${keysym} ${pressed ? 'pressed' : 'released'}`);
        this._keyboard.notify_keyval(GLib.get_monotonic_time(), keysym,
            pressed ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
        this._later(20, () => this._typeNext(index + 1));
    }

    _reply(invocation, signature, values) {
        invocation.return_value(new this._gi.GLib.Variant(signature, values));
    }
};

QuenlitService.interfaceName = 'io.github.quenlit.Shell1';
QuenlitService.objectPath = '/io/github/quenlit/Shell1';
QuenlitService.interfaceXml = `<node>
  <interface name="io.github.quenlit.Shell1">
    <method name="Register">
      <arg type="u" direction="out" name="version"/><arg type="as" direction="out" name="hotkeys"/>
    </method>
    <method name="ListWindows"><arg type="a(tissiiiibbbbb)" direction="out" name="windows"/></method>
    <method name="ActivateWindow"><arg type="t" name="id"/><arg type="b" direction="out"/></method>
    <method name="MinimizeWindow"><arg type="t" name="id"/><arg type="b" direction="out"/></method>
    <method name="MoveResizeWindow">
      <arg type="t" name="id"/><arg type="i" name="x"/><arg type="i" name="y"/>
      <arg type="i" name="width"/><arg type="i" name="height"/><arg type="b" name="resize"/>
      <arg type="b" direction="out"/>
    </method>
    <method name="LeaveFullScreen"><arg type="t" name="id"/><arg type="b" direction="out"/></method>
    <method name="Monitors"><arg type="a(iiiiiiii)" direction="out" name="monitors"/></method>
    <method name="ClipboardTypes"><arg type="as" direction="out" name="types"/></method>
    <method name="ClipboardRead"><arg type="s" name="type"/><arg type="ay" direction="out" name="data"/></method>
    <method name="ClipboardWrite">
      <arg type="s" name="type"/><arg type="ay" name="data"/><arg type="b" direction="out"/>
    </method>
    <method name="PrimaryWrite">
      <arg type="s" name="type"/><arg type="ay" name="data"/><arg type="b" direction="out"/>
    </method>
    <method name="SendKeys"><arg type="a(ub)" name="keys"/><arg type="b" direction="out"/></method>
    <method name="ShowPanel">
      <arg type="s" name="title"/><arg type="i" name="x"/><arg type="i" name="y"/>
      <arg type="b" direction="out"/>
    </method>
    <method name="Screenshot"><arg type="s" name="path"/><arg type="b" direction="out"/></method>
    <signal name="HotKeyPressed"><arg type="s" name="name"/></signal>
    <signal name="ClipboardChanged"><arg type="b" name="ours"/><arg type="b" name="empty"/></signal>
    <signal name="FocusChanged"><arg type="i" name="pid"/></signal>
    <signal name="Started"/>
  </interface>
</node>`;

// Each method: (params, invocation, callerPid), called once the caller is known to be Quenlit.
QuenlitService._methods = {
    // Answers the interface's version and the hotkeys the shell bound.
    Register(params, invocation) {
        const bound = this._register(invocation.get_sender());
        this._reply(invocation, '(uas)', [QuenlitService.version, bound]);
    },

    // Most recently used first; the focused window leads.
    ListWindows(params, invocation) {
        const {Meta} = this._gi;
        const display = global.display;
        const focus = display.get_focus_window();
        const origin = this._origin();
        // The shell's own helper windows are no application's.
        const listed = display.get_tab_list(Meta.TabList.NORMAL_ALL, null);
        for (const window of display.list_all_windows()) {
            if (!listed.includes(window) && window.get_window_type() !== Meta.WindowType.DESKTOP)
                listed.push(window);
        }
        const windows = listed.filter(w => w.get_pid() !== this._shellPid);
        this._reply(invocation, '(a(tissiiiibbbbb))', [windows.map(w => this._describe(w, focus, origin))]);
    },

    ActivateWindow([id], invocation) {
        const window = this._window(id);
        if (window) {
            if (window.minimized)
                window.unminimize();
            this._main.activateWindow(window);
        }
        this._reply(invocation, '(b)', [window !== null]);
    },

    MinimizeWindow([id], invocation) {
        const window = this._window(id);
        if (window)
            window.minimize();
        this._reply(invocation, '(b)', [window !== null]);
    },

    MoveResizeWindow([id, x, y, width, height, resize], invocation) {
        const {Meta} = this._gi;
        const window = this._window(id);
        if (!window) {
            this._reply(invocation, '(b)', [false]);
            return;
        }
        if (window.get_maximized())
            window.unmaximize(Meta.MaximizeFlags.BOTH);
        const [ox, oy] = this._origin();
        if (resize)
            window.move_resize_frame(true, x + ox, y + oy, width, height);
        else
            window.move_frame(true, x + ox, y + oy);
        this._reply(invocation, '(b)', [true]);
    },

    LeaveFullScreen([id], invocation) {
        const window = this._window(id);
        if (window && window.is_fullscreen())
            window.unmake_fullscreen();
        this._reply(invocation, '(b)', [window !== null]);
    },

    // Each monitor's frame and work area, the primary one first, relative to its top-left corner.
    Monitors(params, invocation) {
        const display = global.display;
        const workspace = global.workspace_manager.get_active_workspace();
        const primary = display.get_primary_monitor();
        const [ox, oy] = this._origin();
        const order = [primary];
        for (let i = 0; i < display.get_n_monitors(); i++) {
            if (i !== primary)
                order.push(i);
        }
        const monitors = order.map(i => {
            const frame = display.get_monitor_geometry(i);
            const work = workspace.get_work_area_for_monitor(i);
            return [frame.x - ox, frame.y - oy, frame.width, frame.height,
                work.x - ox, work.y - oy, work.width, work.height];
        });
        this._reply(invocation, '(a(iiiiiiii))', [monitors]);
    },

    ClipboardTypes(params, invocation) {
        const {Meta} = this._gi;
        const types = this._selection.get_mimetypes(Meta.SelectionType.SELECTION_CLIPBOARD) ?? [];
        this._reply(invocation, '(as)', [types]);
    },

    ClipboardRead([type], invocation) {
        const {Gio, GLib, Meta} = this._gi;
        const stream = Gio.MemoryOutputStream.new_resizable();
        this._selection.transfer_async(Meta.SelectionType.SELECTION_CLIPBOARD, type, -1, stream, null,
            (selection, result) => {
                try {
                    selection.transfer_finish(result);
                    stream.close(null);
                    const data = GLib.Variant.new_from_bytes(new GLib.VariantType('ay'),
                        stream.steal_as_bytes(), true);
                    invocation.return_value(GLib.Variant.new_tuple([data]));
                } catch (e) {
                    invocation.return_dbus_error('io.github.quenlit.Shell1.Error.Failed', String(e));
                }
            });
    },

    ClipboardWrite([type, data], invocation) {
        const {GLib, Meta} = this._gi;
        const source = Meta.SelectionSourceMemory.new(type, new GLib.Bytes(data));
        this._ownSource = source;
        this._selection.set_owner(Meta.SelectionType.SELECTION_CLIPBOARD, source);
        this._reply(invocation, '(b)', [true]);
    },

    // The same content as the primary selection, which xterm and URxvt paste with Shift+Insert.
    PrimaryWrite([type, data], invocation) {
        const {GLib, Meta} = this._gi;
        const source = Meta.SelectionSourceMemory.new(type, new GLib.Bytes(data));
        this._selection.set_owner(Meta.SelectionType.SELECTION_PRIMARY, source);
        this._reply(invocation, '(b)', [true]);
    },

    // Key presses and releases by keysym, about 20 ms apart: closer together, applications see
    // the key without its modifiers. Calls are served in order, one after the other.
    SendKeys([keys], invocation) {
        this._keyQueue.push({keys, invocation});
        if (this._keyQueue.length === 1)
            this._typeNext(0);
    },

    // Quenlit's panel window of that title, once mapped: placed, kept above on every workspace and
    // given the keyboard. The application that was in front stays the one the window list leads
    // with after it, so Quenlit knows where to give the focus back.
    ShowPanel([title, x, y], invocation, pid) {
        this._trace(`show-panel ${title}`);
        let tries = 0;
        let painted = 0;
        let finished = false;
        const finish = () => {
            finished = true;
            if (painted) {
                global.stage.disconnect(painted);
                this._paintWatches.delete(painted);
            }
        };
        const attempt = () => {
            if (finished)
                return true;
            // Mapped, with its first frame drawn: placed earlier, the shell's own placement of a
            // new window would win.
            const window = global.display.list_all_windows().find(w =>
                w.get_pid() === pid && w.get_title() === title && w.get_frame_rect().width > 0 &&
                w.get_compositor_private()?.visible);
            if (!window)
                return false;
            finish();
            const [ox, oy] = this._origin();
            if (!window.is_above())
                window.make_above();
            if (!window.is_on_all_workspaces())
                window.stick();
            window.move_frame(true, x + ox, y + oy);
            this._main.activateWindow(window);
            this._trace(`panel-activated ${title} after ${tries} looks`);
            this._reply(invocation, '(b)', [true]);
            return true;
        };
        const poll = () => {
            if (attempt())
                return;
            if (++tries > 50) {
                finish();
                this._reply(invocation, '(b)', [false]);
                return;
            }
            this._later(20, poll);
        };
        if (attempt())
            return;
        // The window shows in a frame the shell draws: looked for right after each one, and every
        // 20 ms besides.
        painted = global.stage.connect('after-paint', () => this._later(0, attempt));
        this._paintWatches.add(painted);
        this._later(20, poll);
    },

    Screenshot([path], invocation) {
        const {Gio, Shell} = this._gi;
        const file = Gio.File.new_for_path(path);
        const stream = file.replace(null, false, Gio.FileCreateFlags.NONE, null);
        const shooter = new Shell.Screenshot();
        shooter.screenshot(false, stream, (source, result) => {
            let ok = false;
            try {
                ok = source.screenshot_finish(result)[0] !== undefined;
            } catch (e) {
                logError(e, 'quenlit: screenshot');
            }
            stream.close(null);
            this._reply(invocation, '(b)', [ok]);
        });
    },
};
