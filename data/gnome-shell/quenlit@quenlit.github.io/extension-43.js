// The entry of GNOME 43 and 44, which load extensions through imports.*; the installer names it
// extension.js there.

/* exported init, enable, disable */

const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;
const Main = imports.ui.main;
const ExtensionUtils = imports.misc.extensionUtils;
const Me = ExtensionUtils.getCurrentExtension();

let service = null;

function init() {}

function enable() {
    service = new Me.imports.core.QuenlitService({Clutter, Gio, GLib, Meta, Shell}, Main,
        ExtensionUtils.getSettings());
    service.enable();
}

function disable() {
    service?.disable();
    service = null;
}
