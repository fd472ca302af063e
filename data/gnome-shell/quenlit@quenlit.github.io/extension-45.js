// The entry of GNOME 45 and later, which load extensions as ES modules; the installer names it
// extension.js there and makes core.js export its class.

import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {QuenlitService} from './core.js';

export default class QuenlitExtension extends Extension {
    enable() {
        this._service = new QuenlitService({Clutter, Gio, GLib, Meta, Shell}, Main, this.getSettings());
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
