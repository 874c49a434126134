-- Test only: no script leads to version 4.
CREATE TABLE `scratch` ( `value` INTEGER );
