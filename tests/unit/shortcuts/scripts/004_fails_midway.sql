-- Test only: the third statement fails after two have changed the file.
CREATE TABLE `scratch` ( `value` INTEGER );

INSERT INTO `scratch` VALUES (1);

INSERT INTO `no_such_table` VALUES (1);
