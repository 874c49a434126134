
-- Make sure that the subdivision state is saved for shortcuts.
ALTER TABLE `shortcut` ADD COLUMN `subdivided` BOOLEAN NOT NULL DEFAULT 0;
