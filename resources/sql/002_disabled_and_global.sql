
-- Add the ability for users to enable/disable individual shortcuts.
ALTER TABLE `shortcut` ADD COLUMN `enabled` INTEGER NOT NULL DEFAULT 0;
