TYPE=TRIGGERS
triggers='CREATE DEFINER=`root`@`localhost` TRIGGER loans_before_update BEFORE UPDATE ON loans FOR EACH ROW\n    SET NEW.fine = IF(NEW.returned > NEW.loaned + INTERVAL 14 DAY,\n                      DATEDIFF(NEW.returned, NEW.loaned + INTERVAL 14 DAY) * 0.10, 0)'
sql_modes=1411383296
definers='root@localhost'
client_cs_names='utf8mb4'
connection_cl_names='utf8mb4_general_ci'
db_cl_names='latin1_swedish_ci'
created=1796864834954805
