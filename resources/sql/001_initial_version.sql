
CREATE TABLE `migration_history` ( `current_version` INTEGER NOT NULL  DEFAULT 0 );

INSERT INTO `migration_history` DEFAULT VALUES;

CREATE TABLE `shortcut` (
    `rowid` INTEGER PRIMARY KEY,
    `name` TEXT NOT NULL,
    `shortcut` TEXT NOT NULL UNIQUE,
    `grid_width` INTEGER NOT NULL,
    `grid_height` INTEGER NOT NULL,
    `selection_x` INTEGER NOT NULL,
    `selection_y` INTEGER NOT NULL,
    `selection_width` INTEGER NOT NULL,
    `selection_height` INTEGER NOT NULL,
    `global` INTEGER NOT NULL DEFAULT 0 );

