// SPDX-License-Identifier: MIT
// Nothing of its own: the targets that compile the tests' shared Qt headers once.
