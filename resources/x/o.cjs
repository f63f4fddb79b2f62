/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Pictolio's skin: a Qt style sheet. */
QGroupBox { border: 1px solid #b8c2cf; border-radius: 4px;
            margin-top: 12px; padding-top: 4px; }
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; color: #1f3b5c; }
QPushButton { background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfdfe, stop:1 #dfe5ec);
              border: 1px solid #9aa7b6; border-radius: 3px; color: #1f3b5c; }
QPushButton:hover { border-color: #3d7ab8; }
QPushButton:pressed { background-color: #cfd8e3; }
QPushButton:disabled { color: #8a96a3; }
QProgressBar { border: 1px solid #9aa7b6; border-radius: 3px; text-align: center; background: white; color: black; }
QProgressBar::chunk { background-color: #6fa8dc; }
