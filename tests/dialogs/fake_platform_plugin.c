/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A shared library that loads but is no Qt platform plugin: with its name
 * in the plugin directory, the module's checks pass and Qt still cannot
 * start, which is what the start-up safety net is for. */
int lyratest_fake_platform_plugin(void) { return 0; }
